#include "driver/local_domain.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "driver/run_settings.h"

namespace {

// Runs find_local_domain in a child with its own host name and /etc/hosts
// (a UTS and a mount namespace), writing what it found to standard error.
void find_with(const char* host_name, const std::string& hosts) {
  if (unshare(CLONE_NEWUTS | CLONE_NEWNS) != 0) std::_Exit(3);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) std::_Exit(4);
  char path[] = "/tmp/skerla_test_hostsXXXXXX";
  close(mkstemp(path));
  std::ofstream(path) << hosts;
  if (mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) std::_Exit(5);
  unlink(path);
  if (sethostname(host_name, std::string(host_name).size()) != 0) std::_Exit(6);
  settings = run_settings{};
  find_local_domain();
  std::fprintf(stderr, "%s", settings.local_domain);
  std::exit(0);
}

bool namespaces_available() {
  pid_t child = fork();
  if (child == 0) std::_Exit(unshare(CLONE_NEWUTS | CLONE_NEWNS) == 0 ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(find_local_domain, from_host_name_and_lookup) {
  if (!namespaces_available()) GTEST_SKIP() << "needs root for a host name of its own";
  const struct {
    const char* host_name;
    const char* hosts;
    const char* want;
  } cases[] = {
      // A name with a dot is used whole, without a lookup.
      {"mx1.lists.example.org", "", "mx1.lists.example.org"},
      {"mybox", "127.0.1.1 mybox.example.net mybox\n", "mybox.example.net"},
      {"mybox", "127.0.1.1 mybox other mybox.example.com mybox.example.net\n",
       "mybox.example.com"},
  };
  for (const auto& c : cases)
    EXPECT_EXIT(find_with(c.host_name, c.hosts), testing::ExitedWithCode(0),
                testing::StrEq(c.want))
        << c.host_name << " with " << c.hosts;
  EXPECT_EXIT(find_with("mybox", "127.0.1.1 mybox alias\n"), testing::ExitedWithCode(72),
              testing::StrEq("skerla: can't find local domain\n"));
}

}  // namespace
