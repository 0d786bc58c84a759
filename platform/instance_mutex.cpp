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
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
