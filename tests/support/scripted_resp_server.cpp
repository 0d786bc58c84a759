#include "tests/support/scripted_resp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr int kPollStepMs = 20;           // how often the thread looks at stopping_
constexpr std::size_t kReadChunk = 4096;  // bytes read per recv

// One client connection and the bytes it sent that are not yet a whole command.
struct Client {
  int fd;
  std::string pending;
};

// Takes one whole command off the front of `buf` into *args. False when `buf`
// does not hold a whole command yet.
bool takeCommand(std::string& buf, std::vector<std::string>* args) {
  args->clear();
  if (buf.empty()) return false;
  if (buf[0] != '*') {  // inline command: words up to CRLF
    const std::size_t eol = buf.find("\r\n");
    if (eol == std::string::npos) return false;
    const std::string line = buf.substr(0, eol);
    buf.erase(0, eol + 2);
    std::size_t start = 0;
    while (start < line.size()) {
      const std::size_t sp = line.find(' ', start);
      const std::size_t end = sp == std::string::npos ? line.size() : sp;
      if (end > start) args->push_back(line.substr(start, end - start));
      start = end + 1;
    }
    return true;
  }
  std::size_t pos = buf.find("\r\n");
  if (pos == std::string::npos) return false;
  const long count = std::strtol(buf.c_str() + 1, nullptr, 10);
  pos += 2;
  for (long i = 0; i < count; ++i) {
    const std::size_t eol = buf.find("\r\n", pos);
    if (eol == std::string::npos || buf[pos] != '$') return false;
    const std::size_t len = std::strtoul(buf.c_str() + pos + 1, nullptr, 10);
    pos = eol + 2;
    if (buf.size() < pos + len + 2) return false;
    args->push_back(buf.substr(pos, len));
    pos += len + 2;
  }
  buf.erase(0, pos);
  return true;
}

bool sendAll(int fd, const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

const char* const ScriptedRespServer::kHangUp = "<hang up>";

ScriptedRespServer::~ScriptedRespServer() { stop(); }

bool ScriptedRespServer::start(int port) {
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  if (listenFd_ < 0) return false;
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof(addr);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(addr.sin_port);
  stopping_ = false;
  thread_ = std::thread([this] { serve(); });
  return true;
}

void ScriptedRespServer::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

void ScriptedRespServer::setReply(const std::string& command, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  replies_[command] = bytes;
}

void ScriptedRespServer::setDefaultReply(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  defaultReply_ = bytes;
}

std::vector<std::vector<std::string>> ScriptedRespServer::commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

int ScriptedRespServer::connectionsAccepted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return accepted_;
}

std::string ScriptedRespServer::replyFor(const std::vector<std::string>& args) {
  std::string key;
  for (const std::string& a : args) key += (key.empty() ? "" : " ") + a;
  std::lock_guard<std::mutex> lock(mu_);
  commands_.push_back(args);
  auto it = replies_.find(key);
  return it != replies_.end() ? it->second : defaultReply_;
}

void ScriptedRespServer::serve() {
  std::vector<Client> clients;
  while (!stopping_) {
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), kPollStepMs) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      const int fd = accept(listenFd_, nullptr, nullptr);
      if (fd >= 0) {
        clients.push_back({fd, std::string()});
        std::lock_guard<std::mutex> lock(mu_);
        ++accepted_;
      }
    }
    // Walk the clients polled this round (new ones come after them).
    std::vector<Client> kept;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& c = clients[i];
      bool open = true;
      if (i + 1 < fds.size() && fds[i + 1].revents != 0) {
        char chunk[kReadChunk];
        const ssize_t n = recv(c.fd, chunk, sizeof(chunk), 0);
        if (n <= 0) {
          open = false;
        } else {
          c.pending.append(chunk, static_cast<std::size_t>(n));
          std::vector<std::string> args;
          while (open && takeCommand(c.pending, &args)) {
            const std::string reply = replyFor(args);
            open = reply != kHangUp && sendAll(c.fd, reply);
          }
        }
      }
      if (open) {
        kept.push_back(std::move(c));
      } else {
        close(c.fd);
      }
    }
    clients = std::move(kept);
  }
  for (const Client& c : clients) close(c.fd);
}

std::string respBulk(const std::string& text) {
  return "$" + std::to_string(text.size()) + "\r\n" + text + "\r\n";
}

std::string respStatus(const std::string& text) { return "+" + text + "\r\n"; }

std::string respError(const std::string& text) { return "-" + text + "\r\n"; }

std::string respInteger(long long value) { return ":" + std::to_string(value) + "\r\n"; }

std::string respArray(const std::vector<std::string>& encodedItems) {
  std::string out = "*" + std::to_string(encodedItems.size()) + "\r\n";
  for (const std::string& item : encodedItems) out += item;
  return out;
}

std::string respTexts(const std::vector<std::string>& texts) {
  std::vector<std::string> items;
  for (const std::string& t : texts) items.push_back(respBulk(t));
  return respArray(items);
}
