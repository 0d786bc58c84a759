// A scripted RESP server on a free 127.0.0.1 port, for replies that a real
// redis-server or Sentinel will not give.
//
// Every command received (multi-bulk or inline) is recorded as its list of
// arguments, from every connection, in arrival order. The reply is the canned
// bytes set for the command's arguments joined by single spaces (exact and
// case-sensitive; an empty argument still adds its space), else the default reply
// ("-ERR unknown command\r\n" until set).
// A canned reply of kHangUp closes that connection instead of replying.
//
// One background thread serves all connections; start() launches it and stop()
// (or destruction) closes every socket and joins it. The accessors and setters
// are thread-safe and may be used while clients talk to the server.
#ifndef TARVEX_TESTS_SUPPORT_SCRIPTED_RESP_SERVER_H_
#define TARVEX_TESTS_SUPPORT_SCRIPTED_RESP_SERVER_H_

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedRespServer {
 public:
  static const char* const kHangUp;

  ScriptedRespServer() = default;
  ~ScriptedRespServer();
  ScriptedRespServer(const ScriptedRespServer&) = delete;
  ScriptedRespServer& operator=(const ScriptedRespServer&) = delete;

  // Listens on 127.0.0.1 (port 0 picks a free one). False when it cannot listen.
  bool start(int port = 0);
  void stop();

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  void setReply(const std::string& command, const std::string& bytes);
  void setDefaultReply(const std::string& bytes);

  std::vector<std::vector<std::string>> commands() const;
  int connectionsAccepted() const;

 private:
  void serve();
  std::string replyFor(const std::vector<std::string>& args);

  int port_ = 0;
  int listenFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;

  mutable std::mutex mu_;
  std::map<std::string, std::string> replies_;            // guarded by mu_
  std::string defaultReply_ = "-ERR unknown command\r\n";  // guarded by mu_
  std::vector<std::vector<std::string>> commands_;         // guarded by mu_
  int accepted_ = 0;                                       // guarded by mu_
};

// RESP encoders for canned replies.
std::string respBulk(const std::string& text);
std::string respStatus(const std::string& text);
std::string respError(const std::string& text);
std::string respInteger(long long value);
// An array of already encoded items.
std::string respArray(const std::vector<std::string>& encodedItems);
// An array of bulk strings.
std::string respTexts(const std::vector<std::string>& texts);

#endif  // TARVEX_TESTS_SUPPORT_SCRIPTED_RESP_SERVER_H_
