// local_domain.h - the fully qualified domain of this host.
//   find_local_domain()  host name when it holds a dot, else the host
//                        lookup's official name, else its first alias with a
//                        dot; sets settings.local_domain into a buffer that
//                        lives for the run. Exits EX_OSFILE
//                        "skerla: can't find local domain\n" when none is
//                        fully qualified.
#pragma once

void find_local_domain();
