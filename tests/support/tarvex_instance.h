// Runs the real build/tarvex binary as if on its own host: under `unshare -u -m`,
// with its own host name and a private tmpfs on /run/lock, so that several
// instances on one machine neither share the single-instance lock nor a host name.
// Needs root (CI runs as root).
#ifndef TARVEX_TESTS_SUPPORT_TARVEX_INSTANCE_H_
#define TARVEX_TESTS_SUPPORT_TARVEX_INSTANCE_H_

#include <string>
#include <vector>

#include "tests/support/child_process.h"

class TarvexInstance {
 public:
  // `root` is the installation root (ZQROOT); `hostName` the name the instance sees.
  TarvexInstance(std::string root, std::string hostName);

  // Starts `build/tarvex args...`; output goes to <root>/stdout-<host>.txt.
  // Extra environment (e.g. TZ=UTC) is passed through.
  bool start(const std::vector<std::string>& args = {"-self"},
             const std::vector<std::pair<std::string, std::string>>& env = {});

  ChildProcess& process() { return child_; }
  bool waitExit(int timeoutMs, int* status) { return child_.waitExit(timeoutMs, status); }
  void kill() { child_.stop(9); }
  std::string output() const;

 private:
  std::string root_;
  std::string host_;
  ChildProcess child_;
};

// True when this process may use unshare(1) with new UTS and mount namespaces.
bool canUseNamespaces();

#endif  // TARVEX_TESTS_SUPPORT_TARVEX_INSTANCE_H_
