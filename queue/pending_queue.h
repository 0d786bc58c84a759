// PendingQueue: the received operation-log texts, oldest first, shared by the
// subscriber thread (appends) and the forwarding loop (reads and removes).
//
// Every access holds PendingQueueMutex, only for the one container operation, never
// across Redis, HTTP or logging. Two bounds keep memory in check:
//   - by count, in the forwarding loop: above kQueueTrimAbove texts the queue is cut
//     to its newest kQueueKeepNewest;
//   - by bytes, on every append: while the texts held come to more than
//     kQueueMaxBytes, the oldest go, but the newest text always stays (a single
//     text larger than the bound is still forwarded, alone). A text counts its
//     bytes plus kTextOverheadBytes, what holding it costs beyond them, so a flood
//     of tiny texts is bounded as well as a few huge ones.
// A batch stops growing once its texts come to kMaxBatchBytes (one larger text is
// taken alone).
// Texts dropped by either bound are counted in pendingTrimmedTotal(). Because an
// append may drop texts from the front, the forwarding loop removes a batch by the
// position it was taken from (pendingRemoveTaken), never by a bare count.
#ifndef TARVEX_QUEUE_PENDING_QUEUE_H_
#define TARVEX_QUEUE_PENDING_QUEUE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

constexpr std::size_t kQueueTrimAbove = 10000;  // trim when more texts than this wait
constexpr std::size_t kQueueKeepNewest = 8000;  // ... down to the newest this many
constexpr std::size_t kMaxBatch = 100;          // texts per document
constexpr std::size_t kQueueMaxBytes = 256u * 1024u * 1024u;  // bytes of texts held
constexpr std::size_t kTextOverheadBytes = 64;  // counted per text on top of its bytes
constexpr std::size_t kMaxBatchBytes = 4u << 20;  // texts' bytes that end a batch

extern std::mutex PendingQueueMutex;
extern std::deque<std::string> PendingQueue;  // guarded by PendingQueueMutex

// Each takes and releases PendingQueueMutex once.
void pendingAppend(const char* text, std::size_t len);
std::size_t pendingSize();
std::size_t pendingBytes();  // bytes the texts held count for, overhead included
void pendingDropOldest(std::size_t n);
void pendingClear();  // drops every text (not counted as trimmed)
std::vector<std::string> pendingCopyFront(std::size_t n);

// Waits at most timeoutMs until at least n texts are queued; true when they are.
// One thread at a time may wait.
bool pendingWaitForTexts(std::size_t n, int timeoutMs);
// Lets a waiter of pendingWaitForTexts that waits for more than n texts end once n
// are queued (at once when they are). No effect when nobody waits. Any thread.
void pendingLowerWaitTarget(std::size_t n);

// Texts dropped by the count and byte bounds since the process started.
uint64_t pendingTrimmedTotal();

// Steps of one forwarding-loop iteration before conversion: reads the size, trims
// the queue to its newest kQueueKeepNewest texts when it holds more than
// kQueueTrimAbove, caps the count at kMaxBatch and copies that many front texts into
// *batch. Returns the number copied (0 when the queue is empty). *firstSeq, when
// given, receives the position of the first one, for pendingRemoveTaken.
// `maxCount` replaces kMaxBatch as the cap for a caller that takes larger batches;
// `trimByCount` false skips the count bound (the byte bound still holds), for a
// caller that moves the texts on faster than they pile up.
std::size_t takeBatch(std::vector<std::string>* batch, uint64_t* firstSeq = nullptr,
                      std::size_t maxCount = kMaxBatch, bool trimByCount = true);

// takeBatch for a caller that never gives a batch back (the in-memory forwarding
// loop removes every batch whatever its post did): the same count rule and cap,
// but the texts are moved out of the queue and removed at once, not copied.
// `maxCount` and `trimByCount` as for takeBatch.
std::size_t popBatch(std::vector<std::string>* batch, std::size_t maxCount = kMaxBatch,
                     bool trimByCount = true);

// Returns a batch taken with popBatch to the front of the queue, in its order, for
// a caller that could not pass it on (the byte bound then applies as on append).
void pendingPutBack(std::vector<std::string>* batch);

// Removes the texts of a batch taken at firstSeq that are still queued (an append
// may have dropped some of them already); newer texts are never touched.
void pendingRemoveTaken(uint64_t firstSeq, std::size_t count);

#endif  // TARVEX_QUEUE_PENDING_QUEUE_H_
