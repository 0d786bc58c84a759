#include "host/entry.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/sync_config.h"
#include "host/arbitration.h"
#include "host/forwarding_loop.h"
#include "host/messages.h"
#include "host/run_flag.h"
#include "platform/instance_mutex.h"
#include "platform/process_ctrl.h"
#include "platform/quiet_end.h"
#include "platform/zq_thread.h"
#include "redis/subscriber.h"

namespace {

// The raw command line: the arguments after the program name, joined by blanks.
std::string rawCommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

}  // namespace

int tarvexMain(int argc, char** argv) {
  // Lives for the whole process: the arbitration thread reads it through a pointer.
  static unsigned char bSpecialAccess = 0;
  char para[kMaxFirstArgument];
  bSpecialAccess = 0;
  std::memset(para, 0, sizeof(para));

  // A write to a closed socket must never kill the service.
  ignoreBrokenPipe();
  int number = 0;
  if (argc > 1) number = std::atoi(rawCommandLine(argc, argv).c_str());
  if (number == 0) installQuietEnd();

  if (acquireInstanceMutex(kInstanceMutexName) == kInstanceMutexTaken) return 0;

  if (argc >= 2 && std::strlen(argv[1]) < sizeof(para)) {
    std::strcpy(para, argv[1]);
    if (std::strcmp(para, kSelfArgument) == 0) bSpecialAccess = 1;
  }

  CProcessCtrl proc;
  if (!bSpecialAccess) {
    proc.StartProcess("tarvex", kProcessDescription, "rtu", 0);
    if (proc.ISeeFather() == 0) endProcess();
  }

  RunFlag.store(0);
  SyncConfig almLogInfo;
  almLogInfo.WriteRunLog(kStartLine);

  acquireRunFlag(bSpecialAccess);
  if (RunFlag.load() == 0) {
    almLogInfo.WriteRunLog(kRedisErrorLine);
    endProcess();
  }
  almLogInfo.WriteRunLog(kOwnLine);

  ZQ_CreateThread(arbitrationThread, &bSpecialAccess, 100);
  ZQ_CreateThread(subscriberThread, nullptr, 100);

  const std::string urls = almLogInfo.url;
  const std::string headers = kJsonHeaders;
  runForwardingLoop(almLogInfo, urls, headers);

  almLogInfo.WriteRunLog(kCloseLine);
  return 0;
}
