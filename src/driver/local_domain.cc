#include "driver/local_domain.h"

#include <netdb.h>
#include <sysexits.h>
#include <unistd.h>

#include <cstring>

#include "driver/fatal.h"
#include "driver/run_settings.h"

namespace {

constexpr std::size_t domain_buffer_bytes = 1024;
char domain_buffer[domain_buffer_bytes];

// use_name - copy a qualified name into the buffer, cut to fit it.
void use_name(const char* name) {
  std::strncpy(domain_buffer, name, domain_buffer_bytes - 1);
  domain_buffer[domain_buffer_bytes - 1] = '\0';
  settings.local_domain = domain_buffer;
}

}  // namespace

void find_local_domain() {
  if (gethostname(domain_buffer, domain_buffer_bytes) != 0)
    fatal(EX_OSFILE, "skerla: can't find local domain\n");
  domain_buffer[domain_buffer_bytes - 1] = '\0';
  if (std::strchr(domain_buffer, '.')) {
    settings.local_domain = domain_buffer;
    return;
  }
  const hostent* host = gethostbyname(domain_buffer);
  if (host && host->h_name && std::strchr(host->h_name, '.')) {
    use_name(host->h_name);
    return;
  }
  for (char** alias = host ? host->h_aliases : nullptr; alias && *alias; ++alias)
    if (std::strchr(*alias, '.')) {
      use_name(*alias);
      return;
    }
  fatal(EX_OSFILE, "skerla: can't find local domain\n");
}
