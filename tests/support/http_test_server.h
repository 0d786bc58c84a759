// A small HTTP server on 127.0.0.1 for tests, on a free port, in a thread of its own.
//
// It accepts connections one after the other and reads one request from each (the
// request line, the header block up to the blank line, then exactly Content-Length
// bytes of body; reads are bounded in size and time). Every request read, even an
// incomplete one, is recorded. What happens next depends on the mode:
//   kAnswer      sends the configured reply, then closes;
//   kSlowAnswer  waits the configured delay (cut short by stop()), then answers;
//   kNeverAnswer keeps the connection open without a byte until the client closes
//                it or the server stops;
//   kClose       closes without a reply (an orderly FIN);
//   kReset       closes with a TCP reset (SO_LINGER 0).
// The default reply is "200 OK" with body "ok". Replies carry Content-Length and
// "Connection: close"; setRawReply sends exact bytes instead.
//
// startTls() makes it speak TLS on every connection, optionally demanding a client
// certificate; a connection whose handshake fails, or that ends before the first
// byte of a request, is counted but records no request.
// setKeepAlive() makes it answer several requests on one connection.
//
// All methods are thread-safe. The destructor stops the server.
#ifndef TARVEX_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
#define TARVEX_TESTS_SUPPORT_HTTP_TEST_SERVER_H_

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <functional>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "tests/support/tls_handles.h"

class HttpTestServer {
 public:
  struct Request {
    std::string method;       // "POST"
    std::string path;         // request target as sent, e.g. "/api/log"
    std::string version;      // "HTTP/1.1"
    std::string headerBlock;  // the header lines after the request line, each with its CR LF
    std::string body;         // exactly the bytes that followed the blank line
    bool complete = false;    // the whole header block and Content-Length bytes arrived

    // Value of the first header named `name` (case-insensitive), blanks around it
    // removed; "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    // Every header line in order, without CR LF, exactly as sent.
    std::vector<std::string> headerLines() const;
  };

  enum class Mode { kAnswer, kSlowAnswer, kNeverAnswer, kClose, kReset };

  HttpTestServer() = default;
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  struct TlsFiles {
    std::string certFile;      // the server's certificate chain, PEM
    std::string keyFile;       // its private key, PEM
    std::string clientCaFile;  // not empty: demand a client certificate from these CAs
  };

  // Binds `port` on 127.0.0.1 (0: a free one) and starts the server thread. False
  // on failure. After stop(), start(port()) serves the same address again.
  bool start(int port = 0);
  // start() speaking TLS with these files. False when they do not load.
  bool startTls(const TlsFiles& files);
  // Closes every connection and the listener and joins the thread. Idempotent.
  void stop();

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const;

  // The reply for kAnswer / kSlowAnswer. An empty body gives "Content-Length: 0".
  void setReply(int status, std::string body);
  // Sends these bytes as the whole reply instead (cleared by setReply).
  void setRawReply(std::string bytes);
  void setMode(Mode mode);
  // Decides status and body per request (the receiver that judges what it gets);
  // an empty function goes back to setReply's answer. Called on the server thread.
  using Responder = std::function<std::pair<int, std::string>(const Request&)>;
  void setResponder(Responder responder);
  // Delay before a kSlowAnswer reply.
  void setDelayMs(int ms);
  // Keep-alive: up to `replies` requests are answered on one connection, without
  // "Connection: close"; then the connection is closed at once, or, with
  // `closeOnNextRequest`, the next request is read and recorded and the connection
  // closed without a reply (as when a server drops an idle connection just as the
  // client reuses it). 0 (the default): one request per connection.
  void setKeepAlive(int replies, bool closeOnNextRequest = false);

  std::vector<Request> requests() const;
  // Number of connections accepted so far.
  std::size_t connections() const;
  // Waits until at least n requests were recorded or timeoutMs passed.
  bool waitForRequests(std::size_t n, int timeoutMs);

 private:
  // One accepted connection: its socket and, with TLS, its session.
  struct Connection {
    int fd = -1;
    SslPtr ssl;
  };

  void run();
  void serve(int fd);
  bool handshake(Connection* conn);
  bool readRequest(Connection& conn, Request* req);
  // Waits until the connection is readable or the server stops; false on stop or
  // time-out.
  bool waitReadable(const Connection& conn, int timeoutMs);
  void record(Request req);

  int port_ = 0;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};  // written by stop() to wake the server thread
  std::thread thread_;
  SslCtxPtr tls_;  // set before the thread starts; null for plain HTTP

  mutable std::mutex mu_;
  std::condition_variable cv_;
  // Guarded by mu_:
  int status_ = 200;                 // reply status
  std::string body_ = "ok";          // reply body
  std::string raw_;                  // exact reply bytes when not empty
  Responder responder_;              // per-request answer when set
  Mode mode_ = Mode::kAnswer;        // what to do after reading a request
  int delayMs_ = 0;                  // kSlowAnswer delay
  int keepReplies_ = 0;              // replies per connection; 0: one, then close
  bool closeOnNextRequest_ = false;  // drop the request after the last reply
  std::vector<Request> requests_;    // every request read
  std::size_t connections_ = 0;      // connections accepted
  std::vector<Connection> held_;     // kNeverAnswer connections still open
};

#endif  // TARVEX_TESTS_SUPPORT_HTTP_TEST_SERVER_H_
