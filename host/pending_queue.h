// PendingQueue: the received operation-log texts, oldest first, shared by the
// subscriber thread (appends) and the forwarding loop (reads and removes).
//
// Every access holds PendingQueueMutex, only for the one container operation, never
// across Redis, HTTP or logging. The forwarding loop is the only remover, so the
// texts it copied are still at the front when it removes them.
#ifndef TARVEX_HOST_PENDING_QUEUE_H_
#define TARVEX_HOST_PENDING_QUEUE_H_

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

constexpr std::size_t kQueueTrimAbove = 10000;  // trim when more texts than this wait
constexpr std::size_t kQueueKeepNewest = 8000;  // ... down to the newest this many
constexpr std::size_t kMaxBatch = 100;          // texts per document

extern std::mutex PendingQueueMutex;
extern std::deque<std::string> PendingQueue;  // guarded by PendingQueueMutex

// Each takes and releases PendingQueueMutex once.
void pendingAppend(const char* text, std::size_t len);
std::size_t pendingSize();
void pendingDropOldest(std::size_t n);
std::vector<std::string> pendingCopyFront(std::size_t n);

// Steps of one forwarding-loop iteration before conversion: reads the size, trims
// the queue to its newest kQueueKeepNewest texts when it holds more than
// kQueueTrimAbove, caps the count at kMaxBatch and copies that many front texts into
// *batch. Returns the number copied (0 when the queue is empty). The caller removes
// them with pendingDropOldest(count) when done.
std::size_t takeBatch(std::vector<std::string>* batch);

#endif  // TARVEX_HOST_PENDING_QUEUE_H_
