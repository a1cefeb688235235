// prefrobnicate.h - reduce a written address to the bare address.
//   prefrobnicate(text)  drops comments, white space and any display name,
//                        keeps quoted strings and backslash pairs as written;
//                        result in a static buffer overwritten by the next
//                        call, or a constant "" after writing
//                        "prefrobnicate: line too long \"%s\"\n" when the
//                        result would exceed 1023 bytes
#pragma once

const char* prefrobnicate(const char* text);
