// --check, --version and --help.
#include <cstdio>
#include <cstring>

#include "status/check_command.h"
#include "status/status.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: tarvex [-self | --check | --version | --help]\n"
    "\n"
    "Forwards the control operation logs published on the Redis channel almTopic\n"
    "to the receiving platform. One copy per host; the copies agree through the\n"
    "Redis hash useflag:tarvex which one forwards.\n"
    "\n"
    "  -self      run without the platform's process supervisor (as under systemd)\n"
    "  --check    read the configuration, try Redis, the Sentinels and the receiver,\n"
    "             and list every problem; exit status 0 when all can work, else 1\n"
    "  --version  print the version\n"
    "  --help     print this text\n"
    "\n"
    "The installation root is $ZQROOT (else $VUVORER); the configuration files\n"
    "rdsset.ini, logsynset.ini and the optional tarvex.ini are in its cfg/.\n";

}  // namespace

int answerOperatorCommand(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return -1;
  const char* first = argv[1];
  if (std::strcmp(first, "--version") == 0) {
    std::printf("tarvex %s\n", TARVEX_VERSION);
    return 0;
  }
  if (std::strcmp(first, "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(first, "--check") == 0) {
    const int status = runCheck(stdout);
    std::fflush(stdout);
    return status;
  }
  return -1;
}
