#include "host/received_texts.h"

#include "host/run_flag.h"
#include "host/stop_signal.h"
#include "queue/pending_queue.h"

void ReceivedTexts::put(const char* text, std::size_t len) { pendingAppend(text, len); }

bool ReceivedTexts::receiving() {
  return (SubscribeAlways.load() != 0 || RunFlag.load() != 0) && !receivingStopped();
}

bool ReceivedTexts::stopped() { return receivingStopped(); }

ReceivedTexts& receivedTexts() {
  static ReceivedTexts sink;
  return sink;
}
