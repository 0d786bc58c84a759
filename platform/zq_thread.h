// Threads and sleeping for the service's worker loops.
//
// ZQ_CreateThread starts `proc(arg)` on a new detached thread and returns at once.
// The thread is never joined and ends with the process. The third argument is a
// priority hint kept for callers' sake; it is accepted and ignored. Returns a
// non-zero identifier on success, 0 when the thread could not be started.
//
// ZqSleep blocks only the calling thread for `ms` milliseconds (0 or less returns
// at once). Both calls are safe from any thread without outside locking.
#ifndef TARVEX_PLATFORM_ZQ_THREAD_H_
#define TARVEX_PLATFORM_ZQ_THREAD_H_

#include <cstdint>

typedef void* (*ZQ_THREAD_PROC)(void*);

unsigned int ZQ_CreateThread(ZQ_THREAD_PROC proc, void* arg, int priority);
int ZqSleep(int32_t ms);

#endif  // TARVEX_PLATFORM_ZQ_THREAD_H_
