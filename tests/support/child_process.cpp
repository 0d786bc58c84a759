#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/test_env.h"

ChildProcess::~ChildProcess() {
  if (!reaped_) stop(SIGKILL);
}

bool ChildProcess::start(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env,
                         const std::string& outputFile) {
  if (argv.empty()) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    setpgid(0, 0);
    for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    int fd = outputFile.empty() ? open("/dev/null", O_WRONLY)
                                : open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) {
      dup2(devnull, 0);
      close(devnull);
    }
    // Servers started by a test must not hold the test's sockets (listeners,
    // Redis connections) open: close everything but the standard streams.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  reaped_ = false;
  return true;
}

bool ChildProcess::running() {
  if (reaped_) return false;
  int st;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return false;
  }
  return true;
}

bool ChildProcess::waitExit(int timeoutMs, int* status) {
  bool ended = waitUntil([this] { return !running(); }, timeoutMs, 10);
  if (ended && status != nullptr) *status = status_;
  return ended;
}

void ChildProcess::stop(int sig) {
  if (reaped_) return;
  kill(pid_, sig);
  if (!waitExit(5000, nullptr)) {
    kill(pid_, SIGKILL);
    waitExit(5000, nullptr);
  }
}

int runCommand(const std::vector<std::string>& argv, int timeoutMs, std::string* output) {
  std::string file;
  if (output != nullptr) {
    char tmpl[] = "/tmp/tarvex-cmd-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) return -1;
    close(fd);
    file = tmpl;
  }
  ChildProcess child;
  if (!child.start(argv, {}, file)) return -1;
  int status = -1;
  if (!child.waitExit(timeoutMs, &status)) {
    child.stop(SIGKILL);
    status = -1;
  }
  if (output != nullptr) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    *output = ss.str();
    unlink(file.c_str());
  }
  return status;
}
