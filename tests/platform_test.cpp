#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "host/entry.h"
#include "platform/instance_mutex.h"
#include "platform/process_ctrl.h"
#include "platform/quiet_end.h"
#include "platform/zq_thread.h"
#include "platform/zq_time.h"
#include "tests/support/test_env.h"

namespace {

// Runs `body` in a forked child and returns its exit status (128 + signal when it
// was killed by one).
template <typename F>
int statusOfChild(F body) {
  pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(99);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

class ZqTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(ZqTimeTest, CovertTimeGivesLocalCalendarFields) {
  setenv("TZ", "UTC", 1);
  SZQ_CLOCK c;
  CZqTime().CovertTime(1709629622, &c);
  EXPECT_EQ(c.year, 2024);
  EXPECT_EQ(c.month, 3);
  EXPECT_EQ(c.day, 5);
  EXPECT_EQ(c.hour, 9);
  EXPECT_EQ(c.minute, 7);
  EXPECT_EQ(c.second, 2);
  // The ten-byte layout: year at 0, month 2, day 3, hour 5, minute 6, second 7.
  const auto* b = reinterpret_cast<const unsigned char*>(&c);
  EXPECT_EQ(b[2], 3);
  EXPECT_EQ(b[3], 5);
  EXPECT_EQ(b[5], 9);
  EXPECT_EQ(b[6], 7);
  EXPECT_EQ(b[7], 2);

  setenv("TZ", "Asia/Shanghai", 1);
  CZqTime().CovertTime(1709629622, &c);
  EXPECT_EQ(c.hour, 17);
}

TEST_F(ZqTimeTest, GetNowFollowsTheClock) {
  int32_t sec = 0;
  uint16_t ms = 1000;
  CZqTime().GetNow(&sec, &ms);
  EXPECT_NEAR(sec, static_cast<int32_t>(std::time(nullptr)), 1);
  EXPECT_LT(ms, 1000);
  CZqTime().GetNow(&sec, nullptr);  // milliseconds may be left out
}

TEST(ZqThreadTest, ThreadRunsWithItsArgument) {
  static std::atomic<int> value{0};
  static int arg = 41;
  ASSERT_NE(ZQ_CreateThread([](void* p) -> void* {
              value = *static_cast<int*>(p) + 1;
              return nullptr;
            }, &arg, 100), 0u);
  EXPECT_TRUE(waitUntil([] { return value.load() == 42; }, 5000));
}

TEST(InstanceMutexTest, SecondHolderIsRefusedAndDirectoryIsMade) {
  char tmpl[] = "/tmp/tarvex-lock-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = std::string(tmpl) + "/sub";
  EXPECT_EQ(acquireInstanceMutex("m", dir.c_str()), kInstanceMutexOwned);
  // Another open file description of the same file cannot take the lock.
  EXPECT_EQ(acquireInstanceMutex("m", dir.c_str()), kInstanceMutexTaken);
  EXPECT_EQ(acquireInstanceMutex("other", dir.c_str()), kInstanceMutexOwned);
  // A lock file that cannot be opened leaves the service unguarded.
  EXPECT_EQ(acquireInstanceMutex("m", "/proc/no-such-dir"), kInstanceMutexUnavailable);
  removeTree(tmpl);
}

// The service account and root share /run/lock: a lock file left by root must still
// guard a copy run by the service account.
TEST(InstanceMutexTest, LockFileOfAnotherUserStillGuards) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  char tmpl[] = "/tmp/tarvex-lock-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  ASSERT_EQ(chmod(tmpl, 01777), 0);
  auto asNobody = [&](InstanceMutexResult want) {
    return statusOfChild([&] {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(98);
      _exit(acquireInstanceMutex("m", tmpl) == want ? 0 : 1);
    });
  };
  // Root's file, free: another user takes it; held by root: another user is refused.
  ASSERT_EQ(statusOfChild([&] {
              _exit(acquireInstanceMutex("m", tmpl) == kInstanceMutexOwned ? 0 : 1);
            }), 0);
  EXPECT_EQ(asNobody(kInstanceMutexOwned), 0);
  ASSERT_EQ(acquireInstanceMutex("m", tmpl), kInstanceMutexOwned);
  EXPECT_EQ(asNobody(kInstanceMutexTaken), 0);
  removeTree(tmpl);
}

TEST(QuietEndTest, AbortEndsWithStatusZero) {
  EXPECT_EQ(statusOfChild([] {
              installQuietEnd();
              std::abort();
            }), 0);
  EXPECT_EQ(statusOfChild([] {
              installQuietEnd();
              std::terminate();
            }), 0);
}

TEST(QuietEndTest, WriteToClosedPipeDoesNotKill) {
  EXPECT_EQ(statusOfChild([] {
              ignoreBrokenPipe();
              int fds[2];
              if (pipe(fds) != 0) _exit(1);
              close(fds[0]);
              ssize_t n = write(fds[1], "x", 1);
              _exit(n < 0 && errno == EPIPE ? 7 : 2);
            }), 7);
}

TEST(HostNameTest, NameIsTerminatedWithinBuffer) {
  char name[128];
  std::memset(name, 'x', sizeof(name));
  get_host_name(name);
  EXPECT_LT(std::strlen(name), 128u);
  char expected[256] = {};
  gethostname(expected, sizeof(expected) - 1);
  EXPECT_EQ(std::string(name), std::string(expected).substr(0, 127));
}

TEST(CommandLineTest, OnlyExactSelfSkipsSupervision) {
  auto self = [](const char* arg) {
    char prog[] = "tarvex";
    std::string a = arg;
    char* argv[] = {prog, a.data(), nullptr};
    return readSelfFlag(2, argv);
  };
  EXPECT_EQ(self("-self"), 1);
  EXPECT_EQ(self("-SELF"), 0);
  EXPECT_EQ(self("-selfx"), 0);
  EXPECT_EQ(self("-self                   "), 0);  // 24 characters: ignored
  char prog[] = "tarvex";
  char* none[] = {prog, nullptr};
  EXPECT_EQ(readSelfFlag(1, none), 0);
}

TEST(CommandLineTest, RawLineReadsLikeAtoi) {
  char prog[] = "tarvex";
  char five[] = " 5";
  char self[] = "-self";
  char more[] = "x";
  char* numeric[] = {prog, five, more, nullptr};
  char* selfArgs[] = {prog, self, nullptr};
  EXPECT_EQ(rawCommandNumber(3, numeric), 5);
  EXPECT_EQ(rawCommandNumber(2, selfArgs), 0);
  EXPECT_EQ(rawCommandNumber(1, selfArgs), 0);
}

}  // namespace

namespace {

// Runs `watch` in a grandchild whose parent exits as soon as the grandchild has
// made its hand-shake (`start`), and returns the characters `watch` reported.
template <typename Start, typename Watch>
std::string observeOrphaning(Start start, Watch watch) {
  int report[2];
  int started[2];
  if (pipe(report) != 0 || pipe(started) != 0) return "pipe failed";
  pid_t child = fork();
  if (child == 0) {
    pid_t grandchild = fork();
    if (grandchild == 0) {
      close(report[0]);
      close(started[0]);
      CProcessCtrl proc;
      start(proc, report[1]);
      write(started[1], "s", 1);
      watch(proc, report[1]);
      _exit(0);
    }
    char c;
    close(started[1]);
    read(started[0], &c, 1);  // the parent ends only after the hand-shake
    _exit(0);
  }
  close(report[1]);
  close(started[0]);
  close(started[1]);
  waitpid(child, nullptr, 0);
  std::string seen;
  char c;
  while (read(report[0], &c, 1) == 1) seen += c;
  close(report[0]);
  return seen;
}

void reportFlag(int fd, int value) {
  char c = value != 0 ? '1' : '0';
  write(fd, &c, 1);
}

TEST(ProcessCtrlTest, ParentGoneIsSeen) {
  std::string seen = observeOrphaning(
      [](CProcessCtrl& proc, int fd) {
        proc.StartProcess("tarvex", "d", "rtu", 0);
        reportFlag(fd, proc.ISeeFather());
      },
      [](CProcessCtrl& proc, int fd) {
        for (int i = 0; i < 1000 && proc.ISeeFather() != 0; ++i) usleep(10000);
        reportFlag(fd, proc.ISeeFather());
      });
  EXPECT_EQ(seen, "10");
}

TEST(ProcessCtrlTest, LaterObjectsWatchTheSupervisorRecordedAtStart) {
  // The supervisor dies between the hand-shake and the making of a later object:
  // that object must still see the parent as gone.
  std::string seen = observeOrphaning(
      [](CProcessCtrl& proc, int) { proc.StartProcess("tarvex", "d", "rtu", 0); },
      [](CProcessCtrl& proc, int fd) {
        for (int i = 0; i < 1000 && proc.ISeeFather() != 0; ++i) usleep(10000);
        CProcessCtrl later;
        reportFlag(fd, later.ISeeFather());
      });
  EXPECT_EQ(seen, "0");
}

}  // namespace
