// Placeholder until the run log lands: writes every line through kprintf.
#include "config/sync_config.h"
#include "host/messages.h"
#include "platform/kprintf.h"

int SyncConfig::WriteRunLog(std::string text) {
  if (logSeq > 10000) logSeq = 0;
  kprintf(6, 7, 1, kRunLogFormat, logSeq, text.c_str());
  ++logSeq;
  return 1;
}
