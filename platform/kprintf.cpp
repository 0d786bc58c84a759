#include "platform/kprintf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

constexpr const char* kLogDir = "/log";
constexpr const char* kLogName = "/tarvex.log";

// The run-log file of this process. Every field is guarded by `mu`, which also
// serialises writers, so rotation never races a write.
struct RunLogFile {
  std::mutex mu;
  std::string root;       // installation root; "" sends lines to stderr
  int fd = -1;            // open log file, or -1 until the next line opens it
  std::size_t bytes = 0;  // size of the open file: at open, plus what was written
};

RunLogFile& runLog() {
  static RunLogFile* file = new RunLogFile;  // never destroyed: used until _exit
  return *file;
}

void closeFile(RunLogFile& f) {
  if (f.fd >= 0) ::close(f.fd);
  f.fd = -1;
  f.bytes = 0;
}

// Opens <root>/log/tarvex.log when it is not open. False when there is no root or
// the file cannot be opened.
bool openFile(RunLogFile& f) {
  if (f.fd >= 0) return true;
  if (f.root.empty()) return false;
  ::mkdir((f.root + kLogDir).c_str(), 0755);  // fails harmlessly when present
  f.fd = ::open((f.root + kLogDir + kLogName).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                0644);
  if (f.fd < 0) return false;
  struct stat st{};
  f.bytes = ::fstat(f.fd, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
  return true;
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

void setRunLogRoot(const std::string& root) {
  RunLogFile& f = runLog();
  std::lock_guard<std::mutex> lock(f.mu);
  closeFile(f);
  f.root = root;
}

std::string runLogPath() {
  RunLogFile& f = runLog();
  std::lock_guard<std::mutex> lock(f.mu);
  return f.root.empty() ? std::string() : f.root + kLogDir + kLogName;
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

  RunLogFile& f = runLog();
  std::lock_guard<std::mutex> lock(f.mu);
  if (!openFile(f)) {
    return writeAll(STDERR_FILENO, line) ? static_cast<int>(line.size()) : -1;
  }
  bool written = writeAll(f.fd, line);
  if (!written) {
    // The file may have gone bad (a full disk, a lost mount): try once on a new one.
    closeFile(f);
    written = openFile(f) && writeAll(f.fd, line);
  }
  if (!written) {
    closeFile(f);
    return -1;
  }
  f.bytes += line.size();
  if (f.bytes > kLogRotateBytes) {
    closeFile(f);
    rotate(f.root + kLogDir + kLogName);
  }
  return static_cast<int>(line.size());
}
