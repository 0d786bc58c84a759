// The subscriber thread: keeps a subscription to "almTopic" open while this
// instance is active and appends every delivered text that holds "Control" to
// PendingQueue. Started once with ZQ_CreateThread; the argument is unused; never
// returns.
#ifndef TARVEX_REDIS_SUBSCRIBER_H_
#define TARVEX_REDIS_SUBSCRIBER_H_

constexpr const char* kOperationLogChannel = "almTopic";
constexpr int kResubscribePauseMs = 1000;  // pause after every subscription attempt

void* subscriberThread(void* arg);

#endif  // TARVEX_REDIS_SUBSCRIBER_H_
