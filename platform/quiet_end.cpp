#include "platform/quiet_end.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

void quietAbortHandler(int) { _exit(0); }

void quietTerminate() { _exit(0); }

}  // namespace

void ignoreBrokenPipe() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

void installQuietEnd() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = quietAbortHandler;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGABRT, &sa, nullptr);
  std::set_terminate(quietTerminate);
}

void endProcess() {
  std::fflush(nullptr);
  _exit(0);
}
