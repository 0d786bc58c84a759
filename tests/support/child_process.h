// A child process started by a test: fork/exec with extra environment variables,
// stdout/stderr optionally sent to a file, stopped by pid.
//
// The destructor kills (SIGKILL) and reaps a child that is still running, so a
// failing test never leaves processes behind.
#ifndef TARVEX_TESTS_SUPPORT_CHILD_PROCESS_H_
#define TARVEX_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (searched in PATH) with `env` added to (or replacing in) this
  // process's environment. Output goes to `outputFile` (appended) when not empty,
  // else to /dev/null. Returns false when fork or exec failed.
  bool start(const std::vector<std::string>& argv,
             const std::vector<std::pair<std::string, std::string>>& env = {},
             const std::string& outputFile = "");

  pid_t pid() const { return pid_; }
  bool running();

  // Waits up to timeoutMs for the child to end. Returns true and stores the exit
  // status (or 128 + signal) in *status when it ended.
  bool waitExit(int timeoutMs, int* status);

  // Sends `sig` and reaps the child (bounded wait, then SIGKILL).
  void stop(int sig = 15);

 private:
  pid_t pid_ = -1;
  bool reaped_ = true;
  int status_ = 0;
};

// Runs `argv` to completion (bounded by timeoutMs) and returns its exit status,
// or -1 on time-out or failure to start. Output goes to *output when given.
int runCommand(const std::vector<std::string>& argv, int timeoutMs, std::string* output = nullptr);

#endif  // TARVEX_TESTS_SUPPORT_CHILD_PROCESS_H_
