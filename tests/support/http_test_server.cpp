#include "tests/support/http_test_server.h"

#include <tuple>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;        // request line + headers
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;   // request body
constexpr int kReadIdleMs = 5000;      // give up on a request after this much silence
constexpr int kDrainMs = 1000;         // wait for the client's close after a reply
constexpr int kAcceptPollMs = 200;     // server loop poll step

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// One read from the connection, like recv(2): bytes, 0 at the peer's close, -1.
ssize_t receive(int fd, SSL* ssl, char* buf, std::size_t size) {
  if (ssl == nullptr) return ::recv(fd, buf, size, 0);
  const int n = SSL_read(ssl, buf, static_cast<int>(size));
  if (n > 0) return n;
  if (SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN) return 0;
  errno = EIO;
  return -1;
}

void sendAll(int fd, SSL* ssl, const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ssl != nullptr
                    ? SSL_write(ssl, bytes.data() + off, static_cast<int>(bytes.size() - off))
                    : ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n < 0 && ssl == nullptr && errno == EINTR) continue;
    if (n <= 0) return;
    off += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::vector<std::string> HttpTestServer::Request::headerLines() const {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < headerBlock.size()) {
    std::size_t end = headerBlock.find("\r\n", pos);
    if (end == std::string::npos) end = headerBlock.size();
    lines.push_back(headerBlock.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string HttpTestServer::Request::header(const std::string& name) const {
  const std::string want = lower(name);
  for (const std::string& line : headerLines()) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (lower(trim(line.substr(0, colon))) == want) return trim(line.substr(colon + 1));
  }
  return std::string();
}

bool HttpTestServer::Request::hasHeader(const std::string& name) const {
  const std::string want = lower(name);
  for (const std::string& line : headerLines()) {
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && lower(trim(line.substr(0, colon))) == want) return true;
  }
  return false;
}

HttpTestServer::~HttpTestServer() { stop(); }

bool HttpTestServer::start(int port) {
  if (thread_.joinable()) return true;
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) return false;
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    stop();
    return false;
  }
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof(addr);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(listenFd_, 16) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    stop();
    return false;
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread(&HttpTestServer::run, this);
  return true;
}

void HttpTestServer::stop() {
  if (wakePipe_[1] >= 0) {
    char c = 'x';
    ssize_t ignored = ::write(wakePipe_[1], &c, 1);
    (void)ignored;
  }
  if (thread_.joinable()) thread_.join();
  for (Connection& held : held_) ::close(held.fd);
  held_.clear();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  for (int& fd : wakePipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool HttpTestServer::startTls(const TlsFiles& files) {
  if (thread_.joinable()) return false;
  SslCtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  if (ctx == nullptr ||
      SSL_CTX_use_certificate_chain_file(ctx.get(), files.certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx.get(), files.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    return false;
  }
  if (!files.clientCaFile.empty()) {
    if (SSL_CTX_load_verify_locations(ctx.get(), files.clientCaFile.c_str(), nullptr) != 1) {
      return false;
    }
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  // OpenSSL writes with write(2): a client already gone must not end the test
  // process with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  tls_ = std::move(ctx);
  return start();
}

std::string HttpTestServer::url(const std::string& path) const {
  return std::string(tls_ != nullptr ? "https" : "http") + "://127.0.0.1:" +
         std::to_string(port_) + path;
}

void HttpTestServer::setResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mu_);
  responder_ = std::move(responder);
}

void HttpTestServer::setReply(int status, std::string body) {
  std::lock_guard<std::mutex> lock(mu_);
  status_ = status;
  body_ = std::move(body);
  raw_.clear();
}

void HttpTestServer::setRawReply(std::string bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  raw_ = std::move(bytes);
}

void HttpTestServer::setMode(Mode mode) {
  std::lock_guard<std::mutex> lock(mu_);
  mode_ = mode;
}

void HttpTestServer::setDelayMs(int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  delayMs_ = ms;
}

void HttpTestServer::setKeepAlive(int replies, bool closeOnNextRequest) {
  std::lock_guard<std::mutex> lock(mu_);
  keepReplies_ = replies;
  closeOnNextRequest_ = closeOnNextRequest;
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::size_t HttpTestServer::connections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return connections_;
}

bool HttpTestServer::waitForRequests(std::size_t n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return requests_.size() >= n; });
}

void HttpTestServer::record(Request req) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(std::move(req));
  }
  cv_.notify_all();
}

bool HttpTestServer::waitReadable(const Connection& conn, int timeoutMs) {
  if (conn.ssl != nullptr && SSL_pending(conn.ssl.get()) > 0) return true;
  pollfd fds[2] = {{conn.fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
  for (;;) {
    int r = ::poll(fds, 2, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    if (fds[1].revents != 0) return false;  // stopping
    return true;
  }
}

void HttpTestServer::run() {
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({wakePipe_[0], POLLIN, 0});
    for (const Connection& held : held_) fds.push_back({held.fd, POLLIN, 0});
    int r = ::poll(fds.data(), fds.size(), kAcceptPollMs);
    if (r < 0 && errno != EINTR) return;
    if (r <= 0) continue;
    if (fds[1].revents != 0) return;
    // Held connections: discard anything sent, close once the client has gone.
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = ::recv(fds[i].fd, buf, sizeof(buf), MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        ::close(fds[i].fd);
        held_.erase(std::find_if(held_.begin(), held_.end(),
                                 [&](const Connection& c) { return c.fd == fds[i].fd; }));
      }
    }
    if (fds[0].revents != 0) {
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mu_);
        ++connections_;
      }
      serve(fd);
    }
  }
}

bool HttpTestServer::readRequest(Connection& conn, Request* req) {
  std::string data;
  std::size_t headerEnd = std::string::npos;
  std::size_t want = 0;  // total bytes of header + body once known
  char buf[16384];
  for (;;) {
    if (headerEnd == std::string::npos) {
      headerEnd = data.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        std::size_t lineEnd = data.find("\r\n");
        std::string line = data.substr(0, lineEnd);
        std::size_t s1 = line.find(' ');
        std::size_t s2 = s1 == std::string::npos ? std::string::npos : line.find(' ', s1 + 1);
        req->method = line.substr(0, s1);
        if (s2 != std::string::npos) {
          req->path = line.substr(s1 + 1, s2 - s1 - 1);
          req->version = line.substr(s2 + 1);
        } else if (s1 != std::string::npos) {
          req->path = line.substr(s1 + 1);
        }
        // Header lines keep their CR LF; none when the request line ends the block.
        if (lineEnd < headerEnd) req->headerBlock = data.substr(lineEnd + 2, headerEnd - lineEnd);
        std::size_t length = std::strtoull(req->header("Content-Length").c_str(), nullptr, 10);
        want = headerEnd + 4 + std::min(length, kMaxBodyBytes);
      } else if (data.size() > kMaxHeaderBytes) {
        break;
      }
    }
    if (headerEnd != std::string::npos && data.size() >= want) {
      req->body = data.substr(headerEnd + 4, want - headerEnd - 4);
      req->complete = true;
      return true;
    }
    if (!waitReadable(conn, kReadIdleMs)) break;
    ssize_t n = receive(conn.fd, conn.ssl.get(), buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  // Incomplete: keep what arrived.
  if (headerEnd != std::string::npos) {
    req->body = data.substr(headerEnd + 4);
  } else {
    req->headerBlock = data;
  }
  return false;
}

bool HttpTestServer::handshake(Connection* conn) {
  // The handshake runs blocking, each read and write bounded like a request read.
  timeval limit{kReadIdleMs / 1000, 0};
  ::setsockopt(conn->fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  ::setsockopt(conn->fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  conn->ssl.reset(SSL_new(tls_.get()));
  return conn->ssl != nullptr && SSL_set_fd(conn->ssl.get(), conn->fd) == 1 &&
         SSL_accept(conn->ssl.get()) == 1;
}

void HttpTestServer::serve(int fd) {
  Connection conn;
  conn.fd = fd;
  if (tls_ != nullptr && !handshake(&conn)) {
    ::close(fd);
    return;
  }
  for (int answered = 0;; ++answered) {
    Request req;
    readRequest(conn, &req);
    // A kept connection the client closed (or left idle) without a new request, or
    // a TLS client that ended the connection after the handshake without a byte.
    const bool nothing = req.method.empty() && req.headerBlock.empty();
    if (nothing && (answered > 0 || conn.ssl != nullptr)) break;

    Mode mode;
    int status;
    int delayMs;
    int keepReplies;
    bool closeOnNextRequest;
    std::string body;
    std::string raw;
    Responder responder;
    {
      std::lock_guard<std::mutex> lock(mu_);
      mode = mode_;
      status = status_;
      delayMs = delayMs_;
      keepReplies = keepReplies_;
      closeOnNextRequest = closeOnNextRequest_;
      body = body_;
      raw = raw_;
      responder = responder_;
    }
    if (responder) std::tie(status, body) = responder(req);
    record(std::move(req));
    // Only reached with closeOnNextRequest: the request goes without a reply.
    if (keepReplies > 0 && answered == keepReplies) break;

    switch (mode) {
      case Mode::kNeverAnswer:
        held_.push_back(std::move(conn));
        return;
      case Mode::kClose:
        ::close(fd);
        return;
      case Mode::kReset: {
        linger lg{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
        ::close(fd);
        return;
      }
      case Mode::kSlowAnswer: {
        pollfd wake{wakePipe_[0], POLLIN, 0};
        if (::poll(&wake, 1, delayMs) != 0) {  // stopping (or a poll error)
          ::close(fd);
          return;
        }
        break;
      }
      case Mode::kAnswer:
        break;
    }

    if (raw.empty()) {
      raw = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n" +
            "Content-Length: " + std::to_string(body.size()) + "\r\n" +
            (keepReplies > 0 ? "" : "Connection: close\r\n") + "\r\n" + body;
    }
    sendAll(fd, conn.ssl.get(), raw);
    if (keepReplies > 0) {
      if (answered + 1 == keepReplies && !closeOnNextRequest) break;  // closed at once
      continue;
    }
    // Half-close and let the client close first, so unread bytes never turn the
    // close into a reset that could hide the reply.
    if (conn.ssl != nullptr) SSL_shutdown(conn.ssl.get());
    ::shutdown(fd, SHUT_WR);
    char buf[4096];
    while (waitReadable(conn, kDrainMs)) {
      ssize_t n = receive(fd, conn.ssl.get(), buf, sizeof(buf));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
    break;
  }
  ::close(fd);
}
