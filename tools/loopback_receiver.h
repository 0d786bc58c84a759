// LoopbackReceiver: a small, fast HTTP/1.1 receiver on 127.0.0.1 for the demo and
// the end-to-end benchmark, standing in for the receiving platform.
//
// One thread runs an epoll loop over the listening socket and every connection. A
// request is read up to the blank line and then exactly Content-Length bytes of
// body (no chunked bodies; header block at most kMaxHeaderBytes, body at most
// kMaxBodyBytes, otherwise the connection is dropped). The handler is called with
// the request target and the body, on the receiver thread, and its result is sent
// back as the body of a "200 OK" reply with Content-Length. The connection stays
// open for further requests (HTTP/1.1 keep-alive) unless the request asked for
// "Connection: close", which the reply repeats before the connection is closed. An
// empty result still sends a reply with "Content-Length: 0".
//
// start() and stop() are called from one owning thread; the handler must be
// thread-safe with respect to whatever else reads the data it records. The
// destructor stops the receiver.
#ifndef TARVEX_TOOLS_LOOPBACK_RECEIVER_H_
#define TARVEX_TOOLS_LOOPBACK_RECEIVER_H_

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

constexpr std::size_t kMaxHeaderBytes = 64u * 1024u;         // request line + headers
constexpr std::size_t kMaxBodyBytes = 64u * 1024u * 1024u;   // one request body
constexpr int kListenBacklog = 1024;                         // pending connections

class LoopbackReceiver {
 public:
  // (request target, body) -> reply body.
  using Handler = std::function<std::string(const std::string&, const std::string&)>;

  explicit LoopbackReceiver(Handler handler);
  ~LoopbackReceiver();
  LoopbackReceiver(const LoopbackReceiver&) = delete;
  LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

  // Listens on 127.0.0.1:port (0: a free port) and starts the thread. Returns false,
  // with a message in error(), when the port cannot be bound.
  bool start(int port);
  // Closes every connection and the listener and joins the thread. Idempotent.
  void stop();

  int port() const { return port_; }
  const std::string& error() const { return error_; }

 private:
  void run();

  Handler handler_;
  int port_ = 0;          // bound port once started
  int listenFd_ = -1;     // listening socket
  int epollFd_ = -1;      // the loop's epoll instance
  int wakeFd_ = -1;       // eventfd written by stop() to end the loop
  std::string error_;     // why start() failed
  std::thread thread_;    // runs run()
};

#endif  // TARVEX_TOOLS_LOOPBACK_RECEIVER_H_
