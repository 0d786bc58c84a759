#include "tools/loopback_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unordered_map>

namespace {

constexpr int kMaxEvents = 256;         // events taken per epoll_wait
constexpr std::size_t kReadChunk = 65536;  // bytes per recv

// One connection's request and reply in progress.
struct Connection {
  std::string in;                  // bytes received so far
  std::size_t bodyStart = 0;       // offset of the body once the header block is complete
  std::size_t contentLength = 0;   // announced body length
  std::string out;                 // reply bytes
  std::size_t sent = 0;            // reply bytes already written
  bool closeAfter = false;         // the request asked for "Connection: close"
};

// True when the header block [0, end) holds "Connection: close".
bool asksToClose(const std::string& in, std::size_t end) {
  static const char kName[] = "\r\nconnection:";
  const std::size_t n = sizeof(kName) - 1;
  for (std::size_t i = 0; i + n <= end; ++i) {
    if (in[i] == '\r' && strncasecmp(in.data() + i, kName, n) == 0) {
      std::size_t v = i + n;
      while (v < end && in[v] == ' ') ++v;
      return v + 5 <= end && strncasecmp(in.data() + v, "close", 5) == 0;
    }
  }
  return false;
}

// Value of Content-Length in the header block [0, end), or 0 when absent.
std::size_t contentLengthOf(const std::string& in, std::size_t end) {
  static const char kName[] = "\r\ncontent-length:";
  const std::size_t n = sizeof(kName) - 1;
  for (std::size_t i = 0; i + n <= end; ++i) {
    if (in[i] == '\r' && strncasecmp(in.data() + i, kName, n) == 0) {
      return static_cast<std::size_t>(std::strtoull(in.c_str() + i + n, nullptr, 10));
    }
  }
  return 0;
}

// Request target of the request line "METHOD target VERSION".
std::string targetOf(const std::string& in) {
  const std::size_t a = in.find(' ');
  if (a == std::string::npos) return std::string();
  const std::size_t b = in.find(' ', a + 1);
  if (b == std::string::npos) return std::string();
  return in.substr(a + 1, b - a - 1);
}

}  // namespace

LoopbackReceiver::LoopbackReceiver(Handler handler) : handler_(std::move(handler)) {}

LoopbackReceiver::~LoopbackReceiver() { stop(); }

bool LoopbackReceiver::start(int port) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof(addr));
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listenFd_, kListenBacklog) != 0) {
    error_ = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  socklen_t len = sizeof(addr);
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);

  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0) {
    error_ = std::string("epoll/eventfd: ") + std::strerror(errno);
    stop();
    return false;
  }
  epoll_event ev;
  std::memset(&ev, 0, sizeof(ev));
  ev.events = EPOLLIN;
  ev.data.fd = listenFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, listenFd_, &ev);
  ev.data.fd = wakeFd_;
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
  thread_ = std::thread([this] { run(); });
  return true;
}

void LoopbackReceiver::stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    ssize_t w = write(wakeFd_, &one, sizeof(one));
    (void)w;
    thread_.join();
  }
  if (listenFd_ >= 0) close(listenFd_);
  if (epollFd_ >= 0) close(epollFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
  listenFd_ = epollFd_ = wakeFd_ = -1;
}

void LoopbackReceiver::run() {
  std::unordered_map<int, Connection> conns;
  std::string chunk(kReadChunk, '\0');
  epoll_event events[kMaxEvents];

  auto drop = [&](int fd) {
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    conns.erase(fd);
  };
  // Writes what is left of the reply; true when the connection is finished.
  auto flush = [&](int fd, Connection& c) {
    while (c.sent < c.out.size()) {
      const ssize_t n = send(fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
      if (n > 0) {
        c.sent += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        epoll_event ev;
        std::memset(&ev, 0, sizeof(ev));
        ev.events = EPOLLOUT;
        ev.data.fd = fd;
        epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
        return false;
      } else {
        return true;  // peer gone: nothing more to do
      }
    }
    return true;
  };

  // After a reply went out on a connection that stays open: wait for its next request.
  auto resetForNextRequest = [](Connection& c) {
    c.out.clear();
    c.sent = 0;
    c.bodyStart = 0;
    c.contentLength = 0;
  };

  for (;;) {
    const int n = epoll_wait(epollFd_, events, kMaxEvents, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wakeFd_) {
        for (auto& kv : conns) close(kv.first);
        return;
      }
      if (fd == listenFd_) {
        for (;;) {
          const int cfd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (cfd < 0) break;
          epoll_event ev;
          std::memset(&ev, 0, sizeof(ev));
          ev.events = EPOLLIN;
          ev.data.fd = cfd;
          epoll_ctl(epollFd_, EPOLL_CTL_ADD, cfd, &ev);
          conns[cfd];
        }
        continue;
      }
      auto it = conns.find(fd);
      if (it == conns.end()) continue;
      Connection& c = it->second;
      if (!c.out.empty()) {  // writable again
        if (!flush(fd, c)) continue;
        if (c.closeAfter) {
          drop(fd);
          continue;
        }
        resetForNextRequest(c);
        epoll_event ev;
        std::memset(&ev, 0, sizeof(ev));
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd, &ev);
      }
      bool closed = false;
      for (;;) {
        const ssize_t r = recv(fd, &chunk[0], chunk.size(), 0);
        if (r > 0) {
          c.in.append(chunk.data(), static_cast<std::size_t>(r));
          if (static_cast<std::size_t>(r) < chunk.size()) break;
        } else if (r < 0 && errno == EINTR) {
          continue;
        } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          break;
        } else {
          closed = true;
          break;
        }
      }
      // Every complete request in the bytes received, one reply each, in turn.
      for (;;) {
        if (c.bodyStart == 0) {
          const std::size_t end = c.in.find("\r\n\r\n");
          if (end == std::string::npos) {
            if (closed || c.in.size() > kMaxHeaderBytes) drop(fd);
            break;
          }
          c.bodyStart = end + 4;
          c.contentLength = contentLengthOf(c.in, end + 2);
          c.closeAfter = asksToClose(c.in, end + 2);
          if (c.contentLength > kMaxBodyBytes) {
            drop(fd);
            break;
          }
        }
        if (c.in.size() - c.bodyStart < c.contentLength) {
          if (closed) drop(fd);
          break;
        }
        const std::string reply =
            handler_(targetOf(c.in), c.in.substr(c.bodyStart, c.contentLength));
        c.out = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                std::to_string(reply.size()) +
                (c.closeAfter ? "\r\nConnection: close\r\n\r\n" : "\r\n\r\n") + reply;
        c.in.erase(0, c.bodyStart + c.contentLength);
        if (!flush(fd, c)) break;  // the rest once the socket is writable
        if (c.closeAfter || (closed && c.in.empty())) {
          drop(fd);
          break;
        }
        resetForNextRequest(c);
      }
    }
  }
}
