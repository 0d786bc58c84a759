// --check, --version, --help, --status, --deadletters and --redrive.
#include <cstdio>
#include <cstring>

#include "operator/check_command.h"
#include "operator/dead_letters_command.h"
#include "operator/fleet_status.h"
#include "operator/operator_command.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: tarvex [-self | --check | --version | --help]\n"
    "       tarvex --status [--json] | --deadletters [N]\n"
    "       tarvex --redrive ID... [--dry-run] | --redrive --all [--dry-run]\n"
    "\n"
    "Forwards the control operation logs published on the Redis channel almTopic\n"
    "to the receiving platform. One copy per host; the copies agree through the\n"
    "Redis hash useflag:tarvex which one forwards.\n"
    "\n"
    "  -self      run without the platform's process supervisor (as under systemd)\n"
    "  --check    read the configuration, try Redis, the Sentinels and the receiver,\n"
    "             and list every problem; exit status 0 when all can work, else 1\n"
    "  --status   the owner and its heartbeat; with Durable=1 also each copy, the\n"
    "             backlog, the dead letters and recent gaps (--json: one object);\n"
    "             exit status 0 when the owner's heartbeat moves, else 1\n"
    "  --deadletters [N]\n"
    "             the newest N (default 20) texts the receiver rejected\n"
    "  --redrive ID... | --redrive --all\n"
    "             move dead letters back to the capture stream to be sent again;\n"
    "             --dry-run shows what would move\n"
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
  if (std::strcmp(first, "--status") == 0) {
    const bool json = argc >= 3 && std::strcmp(argv[2], "--json") == 0;
    if (argc > 3 || (argc == 3 && !json)) {
      std::fputs("usage: tarvex --status [--json]\n", stderr);
      return 1;
    }
    return runFleetStatus(stdout, json);
  }
  if (std::strcmp(first, "--deadletters") == 0) return runDeadLetters(stdout, argc, argv);
  if (std::strcmp(first, "--redrive") == 0) return runRedrive(stdout, argc, argv);
  return -1;
}
