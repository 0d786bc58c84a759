#include "tests/support/test_env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/kprintf.h"

TempRoot::TempRoot() {
  char tmpl[] = "/tmp/tarvex-root-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  std::filesystem::create_directories(path_ + "/cfg");
  std::filesystem::create_directories(path_ + "/log");
  if (const char* z = std::getenv("ZQROOT")) {
    hadZqroot_ = true;
    oldZqroot_ = z;
  }
  if (const char* v = std::getenv("VUVORER")) {
    hadVuvorer_ = true;
    oldVuvorer_ = v;
  }
  setenv("ZQROOT", path_.c_str(), 1);
  unsetenv("VUVORER");
  setRunLogRoot(path_);
}

TempRoot::~TempRoot() {
  if (hadZqroot_) setenv("ZQROOT", oldZqroot_.c_str(), 1); else unsetenv("ZQROOT");
  if (hadVuvorer_) setenv("VUVORER", oldVuvorer_.c_str(), 1); else unsetenv("VUVORER");
  setRunLogRoot(hadZqroot_ ? oldZqroot_ : std::string());
  removeTree(path_);
}

void TempRoot::writeCfg(const std::string& name, const std::string& content) const {
  writeFile(cfgPath(name), content);
}

int freeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int port = -1;
  socklen_t len = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs, int stepMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(stepMs));
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void removeTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}
