// The subscriber thread: keeps a subscription to "almTopic" open while this
// instance is active (with durable delivery: from the start, also as a standby) and
// hands every delivered text that holds "Control" to the TextSink it is started
// with. Started once with ZQ_CreateThread, the sink as its argument; never returns.
// Its RedisClient lives on its own stack and is never shared.
//
// RedisClient::subscribeAndReceive (redis/redis_client.h) does the work of one
// subscription; queueControlTexts is the filter it applies to every reply read.
// A read that times out (the command time-out of rdsset.ini) ends the subscription,
// except with SubscribeAlways: there the client sends a PING on the subscribed
// connection and ends it only when that brings nothing within another time-out, so
// a quiet channel never opens a gap. With SubscribeAlways the slave it reads from
// is picked by readSpreadFor(host name) rather than by list order, and a subscription
// that ends after kQuickResubscribeHeldMs or more is made again without the pause.
#ifndef TARVEX_REDIS_SUBSCRIBER_H_
#define TARVEX_REDIS_SUBSCRIBER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "config/tarvex_options.h"

#include "config/timing.h"

struct redisReply;

constexpr const char* kOperationLogChannel = "almTopic";

// Texts holding this marker (exact, case-sensitive) are queued; others are dropped.
constexpr const char* kControlMarker = "Control";

// 1 while the subscription is kept whatever RunFlag says: durable delivery, where
// every copy captures. Set once before the subscriber thread starts.
extern std::atomic<int32_t> SubscribeAlways;

// Where the subscriber's texts go, and whether it goes on. The sink outlives the
// subscriber thread; its calls come from that thread only.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // One text holding kControlMarker: `len` bytes, not NUL-terminated.
  virtual void put(const char* text, std::size_t len) = 0;
  // True while the subscriber should go on receiving.
  virtual bool receiving() = 0;
  // True once receiving has stopped for good (a planned stop): nothing is
  // subscribed again.
  virtual bool stopped() = 0;
};

// True from the confirmation of a subscription until it is lost or left: the texts
// published meanwhile reach the sink. Any thread.
bool subscriptionHeld();

// What the subscriber thread is started with; it must outlive the thread.
struct SubscriberStart {
  TextSink* sink;
  const TarvexOptions* options;  // credentials of its connections
};

// `arg`: a SubscriberStart*.
void* subscriberThread(void* arg);

// The readOffset a durable copy reads with (RedisClient::readOffset): FNV-1a (32
// bits) of the NUL-terminated host name, so copies on different hosts spread their
// subscriptions over the slaves and losing one slave does not cut every copy off at
// once. Only used while SubscribeAlways is set; a null name gives the empty name's.
uint32_t readSpreadFor(const char* hostName);

// Looks at the elements of one delivery, in order. Each element that is a text
// (bulk string or status) is read up to its first NUL byte; when that text holds
// kControlMarker it is handed to `sink`. Elements of other types are skipped. After
// each element, !sink.receiving() ends the walk.
// A null reply or one that is not an array queues nothing. Only reads `reply`;
// the caller keeps ownership. Returns the number of texts appended.
std::size_t queueControlTexts(const redisReply* reply, TextSink& sink);

#endif  // TARVEX_REDIS_SUBSCRIBER_H_
