#include "platform/instance_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

InstanceMutexResult acquireInstanceMutex(const char* name, const char* dir) {
  std::string d = (dir != nullptr && dir[0] != '\0') ? dir : kInstanceLockDir;
  mkdir(d.c_str(), 01777);  // EEXIST is the normal case
  std::string path = d + "/" + name;
  // flock needs no write access, so a lock file left by another user (the service
  // account, or root) still serves. O_CREAT only when the file is missing: with
  // fs.protected_regular, an O_CREAT open of another user's file in the sticky
  // /run/lock is refused even when the file exists.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return kInstanceMutexUnavailable;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? kInstanceMutexTaken : kInstanceMutexUnavailable;
  }
  // Deliberately never closed: the lock lasts as long as the process.
  return kInstanceMutexOwned;
}
