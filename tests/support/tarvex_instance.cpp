#include "tests/support/tarvex_instance.h"

#include <unistd.h>

#include "tests/support/test_env.h"

TarvexInstance::TarvexInstance(std::string root, std::string hostName)
    : root_(std::move(root)), host_(std::move(hostName)) {}

bool TarvexInstance::start(const std::vector<std::string>& args,
                           const std::vector<std::pair<std::string, std::string>>& env) {
  // The inner shell sets the host name and mounts the private lock directory, then
  // becomes the service, so the pid we hold is the service's own.
  std::string script =
      "mount -t tmpfs tmpfs /run/lock && hostname \"$0\" && exec \"$@\"";
  std::vector<std::string> argv = {"unshare", "-u", "-m", "--propagation", "private",
                                   "sh", "-c", script, host_, TARVEX_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::pair<std::string, std::string>> fullEnv = {{"ZQROOT", root_}};
  fullEnv.insert(fullEnv.end(), env.begin(), env.end());
  return child_.start(argv, fullEnv, root_ + "/stdout-" + host_ + ".txt");
}

std::string TarvexInstance::output() const { return readFile(root_ + "/stdout-" + host_ + ".txt"); }

bool canUseNamespaces() {
  if (geteuid() != 0) return false;
  return runCommand({"unshare", "-u", "-m", "true"}, 5000) == 0;
}
