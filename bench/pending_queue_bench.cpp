// The queue between the subscriber and the forwarding loop, per text: append a
// batch, take it, remove it. Copying the batch out and removing it after the post
// (as the durable capture must, to keep texts until a master took them) against
// moving it out at once (the in-memory loop, which drops every batch anyway).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "queue/pending_queue.h"

namespace {

// A one-record operation-log message of the usual size.
const std::string kText(320, 'x');

void appendBatch() {
  for (std::size_t i = 0; i < kMaxBatch; ++i) pendingAppend(kText.data(), kText.size());
}

void BM_CopyThenRemove(benchmark::State& state) {
  pendingClear();
  std::vector<std::string> batch;
  for (auto _ : state) {
    appendBatch();
    uint64_t first = 0;
    const std::size_t n = takeBatch(&batch, &first);
    pendingRemoveTaken(first, n);
    benchmark::DoNotOptimize(batch.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kMaxBatch));
}
BENCHMARK(BM_CopyThenRemove);

void BM_MoveOut(benchmark::State& state) {
  pendingClear();
  std::vector<std::string> batch;
  for (auto _ : state) {
    appendBatch();
    popBatch(&batch);
    benchmark::DoNotOptimize(batch.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kMaxBatch));
}
BENCHMARK(BM_MoveOut);

}  // namespace

BENCHMARK_MAIN();
