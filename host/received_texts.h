// The subscriber's sink in this service: the texts it receives go to PendingQueue
// (queue/pending_queue.h), and it goes on while SubscribeAlways is set (durable
// delivery, where every copy captures) or RunFlag is 1, until a planned stop has
// stopped receiving (host/stop_signal.h). One per process; thread-safe.
#ifndef TARVEX_HOST_RECEIVED_TEXTS_H_
#define TARVEX_HOST_RECEIVED_TEXTS_H_

#include <cstddef>

#include "redis/subscriber.h"

class ReceivedTexts : public TextSink {
 public:
  void put(const char* text, std::size_t len) override;
  bool receiving() override;
  bool stopped() override;
};

// The process's sink, handed to the subscriber thread.
ReceivedTexts& receivedTexts();

#endif  // TARVEX_HOST_RECEIVED_TEXTS_H_
