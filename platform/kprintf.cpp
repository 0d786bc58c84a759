#include "platform/kprintf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "config/config_path.h"

namespace {

constexpr const char* kLogDir = "/log";
constexpr const char* kLogName = "/tarvex.log";

// Serialises writers of this process, so rotation never races a write.
std::mutex& logMutex() {
  static std::mutex mu;
  return mu;
}

// Appends "YYYY-MM-DD HH:MM:SS.mmm " in local time to *line.
void appendStamp(std::string* line) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char stamp[64];
  std::size_t n = std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + n, sizeof(stamp) - n, ".%03ld ", static_cast<long>(ts.tv_nsec / 1000000));
  line->append(stamp);
}

// Writes the whole buffer; a regular file takes it in one write(2), the loop only
// covers signals and short writes on a nearly full disk.
bool writeAll(int fd, const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

// tarvex.log.4 -> .5, ..., tarvex.log -> tarvex.log.1; the oldest is dropped.
void rotate(const std::string& path) {
  ::unlink((path + "." + std::to_string(kLogRotateKeep)).c_str());
  for (int i = kLogRotateKeep - 1; i >= 1; --i) {
    ::rename((path + "." + std::to_string(i)).c_str(),
             (path + "." + std::to_string(i + 1)).c_str());
  }
  ::rename(path.c_str(), (path + ".1").c_str());
}

}  // namespace

std::string runLogPath() {
  std::string root;
  if (!installRoot(&root)) return std::string();
  return root + kLogDir + kLogName;
}

int kprintf(unsigned int, unsigned int, unsigned int, const char* fmt, ...) {
  std::string line;
  appendStamp(&line);
  const std::size_t stampEnd = line.size();

  // Format into a buffer of the exact size, so the text is never cut.
  va_list ap;
  va_start(ap, fmt);
  va_list measure;
  va_copy(measure, ap);
  const int textLen = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (textLen < 0) {
    va_end(ap);
    return -1;
  }
  line.resize(stampEnd + static_cast<std::size_t>(textLen) + 1);
  std::vsnprintf(&line[stampEnd], static_cast<std::size_t>(textLen) + 1, fmt, ap);
  va_end(ap);
  line[stampEnd + static_cast<std::size_t>(textLen)] = '\n';

  std::lock_guard<std::mutex> lock(logMutex());
  const std::string path = runLogPath();
  int fd = -1;
  if (!path.empty()) {
    std::string root;
    installRoot(&root);
    ::mkdir((root + kLogDir).c_str(), 0755);  // fails harmlessly when present
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    return writeAll(STDERR_FILENO, line) ? static_cast<int>(line.size()) : -1;
  }
  const bool written = writeAll(fd, line);
  struct stat st{};
  const bool full = ::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) > kLogRotateBytes;
  ::close(fd);
  if (full) rotate(path);
  return written ? static_cast<int>(line.size()) : -1;
}
