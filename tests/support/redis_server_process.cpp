#include "tests/support/redis_server_process.h"

#include <hiredis/hiredis.h>
#include <stdlib.h>

#include <cstring>

#include "tests/support/test_env.h"

RedisServerProcess::RedisServerProcess() {
  char tmpl[] = "/tmp/tarvex-redis-XXXXXX";
  if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
}

RedisServerProcess::~RedisServerProcess() {
  stop(9);
  if (!dir_.empty()) removeTree(dir_);
}

bool RedisServerProcess::start(const std::vector<std::string>& extraArgs, int port) {
  port_ = port != 0 ? port : freeLoopbackPort();
  argv_ = {"redis-server", "--port", std::to_string(port_), "--bind", "127.0.0.1",
           "--save", "", "--appendonly", "no", "--dir", dir_, "--daemonize", "no",
           "--protected-mode", "no", "--logfile", ""};
  argv_.insert(argv_.end(), extraArgs.begin(), extraArgs.end());
  return launch();
}

bool RedisServerProcess::startSentinel(const std::string& configText, int port) {
  port_ = port != 0 ? port : freeLoopbackPort();
  std::string conf = dir_ + "/sentinel.conf";
  writeFile(conf, "port " + std::to_string(port_) + "\nbind 127.0.0.1\nprotected-mode no\n" +
                      "dir " + dir_ + "\n" + configText);
  argv_ = {"redis-server", conf, "--sentinel"};
  return launch();
}

bool RedisServerProcess::launch() {
  child_ = std::make_unique<ChildProcess>();
  if (!child_->start(argv_, {}, dir_ + "/server.log")) return false;
  return redisAnswersPing(port_, 10000, authUser_, authPassword_);
}

void RedisServerProcess::stop(int sig) {
  if (child_) child_->stop(sig);
}

bool RedisServerProcess::restart() {
  stop(9);
  return launch();
}

bool RedisServerProcess::running() { return child_ && child_->running(); }

std::string RedisServerProcess::cli(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {"redis-cli", "-h", "127.0.0.1", "-p", std::to_string(port_)};
  if (!authPassword_.empty()) {
    if (!authUser_.empty()) argv.insert(argv.end(), {"--user", authUser_});
    argv.insert(argv.end(), {"--pass", authPassword_, "--no-auth-warning"});
  }
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out;
  runCommand(argv, 10000, &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

bool redisAnswersPing(int port, int timeoutMs, const std::string& user,
                      const std::string& password) {
  return waitUntil(
      [&] {
        struct timeval tv = {1, 0};
        redisContext* c = redisConnectWithTimeout("127.0.0.1", port, tv);
        bool ok = false;
        if (c != nullptr && c->err == 0 && !password.empty()) {
          auto* a = static_cast<redisReply*>(
              user.empty() ? redisCommand(c, "AUTH %s", password.c_str())
                           : redisCommand(c, "AUTH %s %s", user.c_str(), password.c_str()));
          if (a != nullptr) freeReplyObject(a);
        }
        if (c != nullptr && c->err == 0) {
          auto* r = static_cast<redisReply*>(redisCommand(c, "PING"));
          ok = r != nullptr && r->type == REDIS_REPLY_STATUS;
          if (r != nullptr) freeReplyObject(r);
        }
        if (c != nullptr) redisFree(c);
        return ok;
      },
      timeoutMs, 20);
}
