#include "config/config_path.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool installRoot(std::string* root) {
  const char* r = std::getenv("ZQROOT");
  if (r == nullptr) r = std::getenv("VUVORER");
  if (r == nullptr) return false;
  if (root != nullptr) *root = r;
  return true;
}

std::string configPath(const char* name) {
  std::string root;
  if (!installRoot(&root)) return std::string();
  std::string path = root + "/cfg/" + (name != nullptr ? name : "");
  if (path.size() > kMaxConfigPath) return std::string();
  return path;
}

bool configFileReadable(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int err = 0;
  if (fd < 0) {
    err = errno;
  } else {
    char byte;
    ssize_t n;
    do {
      n = ::read(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n < 0) err = errno;
    ::close(fd);
  }
  if (err == 0) return true;
  if (why != nullptr) *why = std::strerror(err);
  return false;
}
