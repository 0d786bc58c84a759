// One running instance per host: an exclusive flock(2) on /run/lock/<name>.
//
// acquireInstanceMutex opens (creating it and its directory when missing) the lock
// file read-only and tries a non-blocking exclusive lock, so a lock file made by
// another user (root, or the service account) guards just the same. The descriptor
// is close-on-exec, so children never inherit the lock, and it is kept open for the
// life of the process.
// Results: kInstanceMutexOwned when this process now holds the lock,
// kInstanceMutexTaken when another process holds it, kInstanceMutexUnavailable when
// the file cannot be opened at all (the caller then runs unguarded).
#ifndef TARVEX_PLATFORM_INSTANCE_MUTEX_H_
#define TARVEX_PLATFORM_INSTANCE_MUTEX_H_

constexpr const char* kInstanceLockDir = "/run/lock";

enum InstanceMutexResult {
  kInstanceMutexOwned = 1,
  kInstanceMutexTaken = 0,
  kInstanceMutexUnavailable = -1,
};

// `dir` defaults to kInstanceLockDir; tests pass a directory of their own.
InstanceMutexResult acquireInstanceMutex(const char* name, const char* dir = kInstanceLockDir);

#endif  // TARVEX_PLATFORM_INSTANCE_MUTEX_H_
