#include "platform/zq_thread.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>

namespace {

struct ThreadStart {
  ZQ_THREAD_PROC proc;
  void* arg;
};

void* threadTrampoline(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  return start.proc(start.arg);
}

}  // namespace

unsigned int ZQ_CreateThread(ZQ_THREAD_PROC proc, void* arg, int /*priority*/) {
  if (proc == nullptr) return 0;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return 0;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto* start = new ThreadStart{proc, arg};
  pthread_t tid;
  int rc = pthread_create(&tid, &attr, threadTrampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return 0;
  }
  // pthread_t is opaque; callers only test the result for zero.
  return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(start) | 1u);
}

int ZqSleep(int32_t ms) {
  if (ms <= 0) return 0;
  struct timespec req;
  req.tv_sec = ms / 1000;
  req.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  // Resume after signals so that a sleep always lasts its full time.
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
  return 0;
}
