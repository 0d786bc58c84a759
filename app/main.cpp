#include "host/entry.h"
#include "operator/operator_command.h"
#include "platform/memory_release.h"
#include "platform/quiet_end.h"

int main(int argc, char** argv) {
  releaseLargeAllocations();
  // --check, --status, --version, --help and the other operator commands: answered
  // before the lock and before the service.
  int status = answerOperatorCommand(argc, argv);
  if (status < 0) status = tarvexMain(argc, argv);
  // Only an operator command ends with another status; no worker thread runs then.
  if (status != 0) return status;
  // The worker threads are never joined; end without running static destructors
  // under them.
  endProcess();
}
