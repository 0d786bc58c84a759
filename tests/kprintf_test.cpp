#include "platform/kprintf.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_env.h"

namespace {

constexpr std::size_t kStampBytes = 24;  // "YYYY-MM-DD HH:MM:SS.mmm "

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

// "YYYY-MM-DD HH:MM:SS.mmm " at the start of `line`.
bool hasStampShape(const std::string& line) {
  const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

class KprintfTest : public ::testing::Test {
 protected:
  TempRoot root_;
};

TEST_F(KprintfTest, LineIsStampedTextAndLineFeed) {
  EXPECT_EQ(root_.logPath(), runLogPath());
  const time_t before = time(nullptr);
  const int n = kprintf(6, 7, 1, "No=%d,data:%s --", 3, "100% \xB2\xD9\xD7\xF7 %s%n");
  const time_t after = time(nullptr);
  const std::string log = readFile(root_.logPath());
  EXPECT_EQ(static_cast<int>(log.size()), n);
  ASSERT_GT(log.size(), kStampBytes);
  EXPECT_TRUE(hasStampShape(log)) << log;
  EXPECT_EQ("No=3,data:100% \xB2\xD9\xD7\xF7 %s%n --\n", log.substr(kStampBytes));

  // The stamp is local time, to the second, taken between the two clock reads.
  std::vector<std::string> allowed;
  for (time_t t = before; t <= after; ++t) {
    char text[32];
    tm local{};
    localtime_r(&t, &local);
    strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
    allowed.push_back(text);
  }
  EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), log.substr(0, 19)))
      << log.substr(0, 19);
}

TEST_F(KprintfTest, LongTextIsNeverCutAndLinesAppend) {
  const std::string big(300 * 1024, 'z');
  kprintf(6, 7, 1, "%s", "first");
  kprintf(6, 7, 1, "%s", big.c_str());
  kprintf(6, 7, 1, "%s", "");
  std::vector<std::string> got = lines(readFile(root_.logPath()));
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ("first", got[0].substr(kStampBytes));
  EXPECT_EQ(big, got[1].substr(kStampBytes));
  EXPECT_EQ(kStampBytes, got[2].size());
}

TEST_F(KprintfTest, MissingLogDirectoryIsCreated) {
  removeTree(root_.path() + "/log");
  setRunLogRoot(root_.path());
  kprintf(6, 7, 1, "%s", "again");
  EXPECT_EQ("again\n", readFile(root_.logPath()).substr(kStampBytes));
}

TEST_F(KprintfTest, WithoutRootOrWritableFileTheLineGoesToStderr) {
  const std::string capture = root_.path() + "/stderr.txt";
  int saved = dup(STDERR_FILENO);
  int fd = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  dup2(fd, STDERR_FILENO);
  close(fd);

  setRunLogRoot("");
  EXPECT_EQ("", runLogPath());
  kprintf(6, 7, 1, "%s", "no root");
  EXPECT_FALSE(std::filesystem::exists("/log/tarvex.log"));
  // A root whose log path cannot be made (log/ is a plain file).
  removeTree(root_.path() + "/log");
  writeFile(root_.path() + "/log", "not a directory");
  setRunLogRoot(root_.path());
  kprintf(6, 7, 1, "%s", "blocked");

  dup2(saved, STDERR_FILENO);
  close(saved);
  std::vector<std::string> got = lines(readFile(capture));
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ("no root", got[0].substr(kStampBytes));
  EXPECT_EQ("blocked", got[1].substr(kStampBytes));
}

TEST_F(KprintfTest, FileAboveLimitRotatesAndOldestIsDropped) {
  const std::string path = root_.logPath();
  for (int i = 1; i <= kLogRotateKeep; ++i) {
    writeFile(path + "." + std::to_string(i), "gen" + std::to_string(i));
  }
  writeFile(path, "current\n");
  ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(kLogRotateBytes)));

  // The line that takes the file past the limit stays in it; then the file moves on.
  kprintf(6, 7, 1, "%s", "over");
  kprintf(6, 7, 1, "%s", "fresh");

  EXPECT_EQ("fresh\n", readFile(path).substr(kStampBytes));
  const std::string old = readFile(path + ".1");
  EXPECT_EQ(kLogRotateBytes + kStampBytes + 5, old.size());
  EXPECT_EQ(0u, old.find("current\n"));
  EXPECT_EQ("gen1", readFile(path + ".2"));
  EXPECT_EQ("gen4", readFile(path + ".5"));
  EXPECT_FALSE(std::filesystem::exists(path + ".6"));
}

TEST_F(KprintfTest, ConcurrentWritersNeverInterleaveLines) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string payload(1000 + t, static_cast<char>('a' + t));
      for (int i = 0; i < kPerThread; ++i) kprintf(6, 7, 1, "%d:%s", t, payload.c_str());
    });
  }
  for (auto& th : threads) th.join();
  std::vector<std::string> got = lines(readFile(root_.logPath()));
  ASSERT_EQ(static_cast<std::size_t>(kThreads * kPerThread), got.size());
  for (const std::string& line : got) {
    const int t = line[kStampBytes] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
    EXPECT_EQ(std::to_string(t) + ":" + std::string(1000 + t, static_cast<char>('a' + t)),
              line.substr(kStampBytes));
  }
}

}  // namespace
