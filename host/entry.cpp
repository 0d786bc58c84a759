#include "host/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/config_path.h"
#include "config/sync_config.h"
#include "config/tarvex_options.h"
#include "delivery/http_delivery.h"
#include "durable/capture.h"
#include "durable/stream_queue.h"
#include "host/arbitration.h"
#include "host/forwarding_loop.h"
#include "host/messages.h"
#include "host/received_texts.h"
#include "host/run_flag.h"
#include "host/run_log.h"
#include "host/start_gate.h"
#include "host/stop_drain.h"
#include "host/stop_signal.h"
#include "platform/decimal.h"
#include "platform/instance_mutex.h"
#include "platform/kprintf.h"
#include "platform/memory_release.h"
#include "platform/process_ctrl.h"
#include "platform/quiet_end.h"
#include "platform/zq_thread.h"
#include "queue/memory_queue.h"
#include "redis/subscriber.h"
#include "status/status.h"

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

int rawCommandNumber(int argc, char** argv) {
  if (argc <= 1) return 0;
  return decimalInt32(rawCommandLine(argc, argv));
}

unsigned char readSelfFlag(int argc, char** argv) {
  if (argc < 2 || argv[1] == nullptr) return 0;
  if (std::strlen(argv[1]) >= static_cast<std::size_t>(kMaxFirstArgument)) return 0;
  return std::strcmp(argv[1], kSelfArgument) == 0 ? 1 : 0;
}

int tarvexMain(int argc, char** argv) {
  // Lives for the whole process: the arbitration thread reads it through a pointer.
  static unsigned char bSpecialAccess = 0;
  bSpecialAccess = 0;

  // A write to a closed socket must never kill the service.
  ignoreBrokenPipe();
  releaseLargeAllocations();
  if (rawCommandNumber(argc, argv) == 0) installQuietEnd();
  // Before any thread starts: SIGTERM and SIGINT are taken by the stop watcher.
  if (!installStopSignals()) {
    std::fprintf(stderr, "tarvex: stop signal watcher not started; a stop signal kills\n");
  }

  const InstanceMutexResult guard = acquireInstanceMutex(kInstanceMutexName);
  if (guard == kInstanceMutexTaken) return 0;
  if (guard == kInstanceMutexUnavailable) {
    // Runs on, as designed, but a second copy on this host would not be stopped.
    std::fprintf(stderr, "tarvex: instance lock %s/%s cannot be opened; running unguarded\n",
                 kInstanceLockDir, kInstanceMutexName);
  }

  bSpecialAccess = readSelfFlag(argc, argv);

  CProcessCtrl proc;
  if (!bSpecialAccess) {
    proc.StartProcess("tarvex", kProcessDescription, "rtu", 0);
    if (proc.ISeeFather() == 0) endProcess();
  }

  RunFlag.store(0);
  std::string root;
  if (installRoot(&root)) setRunLogRoot(root);
  const SyncConfig almLogInfo;
  RunLog runLog(almLogInfo.logFlag);
  runLog.WriteRunLog(kStartLine);

  // cfg/tarvex.ini, loaded once here and handed to every part that needs it. Lives
  // for the whole process: the worker threads read it through pointers, never write.
  static TarvexOptions options = loadedTarvexOptions();
  if (!startGateOpen(options)) endProcess();
  setStopHandoverSeconds(options.stopHandoverSeconds);
  const bool durable = options.durable == 1;
  static SubscriberStart subscriberStart{&receivedTexts(), &options};
  if (durable) {
    // Every copy captures from the start, standbys too, so that a takeover resumes
    // where the old owner stopped.
    SubscribeAlways.store(1);
    if (ZQ_CreateThread(subscriberThread, &subscriberStart, 100) == 0 ||
        ZQ_CreateThread(captureThread, &options, 100) == 0) {
      runLog.WriteRunLog(kCloseLine);
      endProcess();
    }
  }

  statusStartEndpoint(options);  // before the first pass, so that a standby serves it too
  statusArbitrationStarted();
  acquireRunFlag(bSpecialAccess, options);
  if (RunFlag.load() == 0) {
    runLog.WriteRunLog(kRedisErrorLine);
    endProcess();
  }
  runLog.WriteRunLog(kOwnLine);
  statusOwnerStarted();

  // Without its heartbeat a copy would forward while a standby takes over, and
  // without its subscriber it would forward nothing: either way the work is lost.
  static ArbitrationStart arbitrationStart{&bSpecialAccess, &options};
  if (ZQ_CreateThread(arbitrationThread, &arbitrationStart, 100) == 0 ||
      (!durable && ZQ_CreateThread(subscriberThread, &subscriberStart, 100) == 0)) {
    RunFlag.store(0);
    runLog.WriteRunLog(kCloseLine);
    endProcess();
  }

  const std::string urls = almLogInfo.url;
  const std::string headers = kJsonHeaders;
  HttpDelivery delivery(options);
  if (durable) {
    char myHost[kUseFlagHostSize] = {};
    get_host_name(myHost);
    StreamQueue queue(myHost, options);
    runForwardingLoop(almLogInfo, runLog, queue, delivery, urls, headers);
    if (receivingStopped()) drainAfterStop(almLogInfo, runLog, queue, delivery, urls, headers, true);
  } else {
    MemoryQueue queue;
    runForwardingLoop(almLogInfo, runLog, queue, delivery, urls, headers);
    if (receivingStopped()) drainAfterStop(almLogInfo, runLog, queue, delivery, urls, headers, false);
  }

  runLog.WriteRunLog(kCloseLine);
  return 0;
}
