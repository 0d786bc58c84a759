// A private redis-server (or redis-sentinel) on a free 127.0.0.1 port, started by
// a test and stopped by pid. Data lives in a temp directory removed at the end.
#ifndef TARVEX_TESTS_SUPPORT_REDIS_SERVER_PROCESS_H_
#define TARVEX_TESTS_SUPPORT_REDIS_SERVER_PROCESS_H_

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

class RedisServerProcess {
 public:
  RedisServerProcess();
  ~RedisServerProcess();
  RedisServerProcess(const RedisServerProcess&) = delete;
  RedisServerProcess& operator=(const RedisServerProcess&) = delete;

  // Credentials that cli() and the start-up PING use (set before start) when the
  // server demands them; an empty user means the default user.
  void setClientAuth(std::string user, std::string password) {
    authUser_ = std::move(user);
    authPassword_ = std::move(password);
  }

  // Starts redis-server with `extraArgs` (e.g. {"--replicaof", "127.0.0.1", "6380"})
  // on `port` (0 picks a free one) and waits until it answers PING (at most 10 s).
  bool start(const std::vector<std::string>& extraArgs = {}, int port = 0);

  // Starts a Sentinel from `configText` (written to sentinel.conf in the data dir;
  // "port" and "bind" lines are added) and waits until it answers PING.
  bool startSentinel(const std::string& configText, int port = 0);

  // Kills the server (SIGKILL by default) and reaps it.
  void stop(int sig = 9);
  // Starts again on the same port with the same arguments.
  bool restart();

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  bool running();

  // Runs one command through redis-cli and returns its trimmed output.
  std::string cli(const std::vector<std::string>& args) const;

 private:
  bool launch();

  int port_ = 0;
  std::string dir_;
  std::vector<std::string> argv_;
  std::string authUser_;      // user of cli() and PING; "" the default user
  std::string authPassword_;  // their password; "" sends no AUTH
  std::unique_ptr<ChildProcess> child_;
};

// True when something answers PING on 127.0.0.1:port within timeoutMs, after AUTH
// when a password is given.
bool redisAnswersPing(int port, int timeoutMs, const std::string& user = "",
                      const std::string& password = "");

#endif  // TARVEX_TESTS_SUPPORT_REDIS_SERVER_PROCESS_H_
