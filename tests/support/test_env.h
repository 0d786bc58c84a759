// Small helpers shared by the tests: a throw-away installation root, free loopback
// ports, bounded waits and file reading.
#ifndef TARVEX_TESTS_SUPPORT_TEST_ENV_H_
#define TARVEX_TESTS_SUPPORT_TEST_ENV_H_

#include <functional>
#include <string>

// A temporary installation root with cfg/ and log/ below it. While it lives,
// ZQROOT points at it, VUVORER is unset and the run log of this process writes
// below it; the destructor restores all three and removes the directory.
class TempRoot {
 public:
  TempRoot();
  ~TempRoot();
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string cfgPath(const std::string& name) const { return path_ + "/cfg/" + name; }
  std::string logPath() const { return path_ + "/log/tarvex.log"; }

  // Writes `content` (bytes as given) to cfg/<name>.
  void writeCfg(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
  bool hadZqroot_ = false;
  std::string oldZqroot_;
  bool hadVuvorer_ = false;
  std::string oldVuvorer_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

// Polls `done` every stepMs until it returns true or timeoutMs passes.
bool waitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs = 20);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// Removes a directory tree (best effort).
void removeTree(const std::string& path);

#endif  // TARVEX_TESTS_SUPPORT_TEST_ENV_H_
