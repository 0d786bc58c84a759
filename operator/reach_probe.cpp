#include "operator/reach_probe.h"

#include <curl/curl.h>
#include <hiredis/hiredis.h>

#include <chrono>
#include <cstdio>

#include "config/timing.h"
#include "delivery/curl_handles.h"
#include "delivery/curl_tls.h"
#include "redis/redis_client.h"
#include "redis/redis_connect.h"
#include "redis/redis_handles.h"
#include "redis/sentinel_reply.h"
#include "redis/server_version.h"

namespace {

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  std::string text() const {
    const double ms = std::chrono::duration<double, std::milli>(
                          std::chrono::steady_clock::now() - start_).count();
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%.1f ms", ms);
    return buf;
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

RedisReplyPtr command(redisContext* c, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  std::vector<std::size_t> argvlen;
  for (const std::string& a : args) {
    argv.push_back(a.data());
    argvlen.push_back(a.size());
  }
  return RedisReplyPtr(static_cast<redisReply*>(
      redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), argvlen.data())));
}

std::string replyText(const redisReply* r) {
  if (r->str != nullptr) return std::string(r->str, r->len);
  return "reply of type " + std::to_string(r->type);
}

}  // namespace

ProbeResult probeRedis(const std::string& address, const std::string& user,
                       const std::string& password, bool sentinel, bool askVersion) {
  ProbeResult result;
  RedisAddress addr{};
  if (!RedisClient::parseAddress(address, &addr)) {
    result.detail = "address too long to use";
    return result;
  }
  const Stopwatch watch;
  struct timeval tv;
  tv.tv_sec = kProbeTimeoutMs / 1000;
  tv.tv_usec = (kProbeTimeoutMs % 1000) * 1000;
  RedisConnection made = redisConnectAndAuth(addr.host, addr.port, tv, &tv, user, password);
  switch (made.state) {
    case RedisLogin::kReady:
      break;
    case RedisLogin::kNotConnected:
      result.detail = made.conn == nullptr ? "cannot connect" : "cannot connect: " + made.reason;
      return result;
    case RedisLogin::kAuthRefused:
      result.detail = "AUTH refused: " + made.reason;
      return result;
    case RedisLogin::kAuthUnanswered:
      result.detail = "no answer to AUTH: " + made.reason;
      return result;
  }
  const RedisContextPtr& c = made.conn;
  RedisReplyPtr pong = command(c.get(), {"PING"});
  if (pong == nullptr) {
    result.detail = std::string("no answer to PING: ") + c->errstr;
    return result;
  }
  if (pong->type == REDIS_REPLY_ERROR) {
    result.detail = "PING refused: " + replyText(pong.get());
    return result;
  }
  if (!sentinel) {
    result.ok = true;
    result.detail = replyText(pong.get()) + " in " + watch.text();
    if (askVersion) {
      RedisReplyPtr info = command(c.get(), {"INFO", "server"});
      if (info != nullptr && info->type == REDIS_REPLY_STRING && info->str != nullptr) {
        result.version = redisVersionFromInfo(std::string(info->str, info->len));
      }
      result.detail += ", Redis " + (result.version.empty() ? std::string("version unknown")
                                                             : result.version);
    }
    return result;
  }
  RedisReplyPtr masters = command(c.get(), {"SENTINEL", "masters"});
  if (masters == nullptr || masters->type != REDIS_REPLY_ARRAY) {
    result.detail = masters == nullptr ? std::string("no answer to SENTINEL masters: ") + c->errstr
                                       : "SENTINEL masters: " + replyText(masters.get());
    return result;
  }
  RedisAddress scratch{};
  char name[kMaxRedisHost + 1] = {};
  result.masters = walkSentinelMasters(masters.get(), &scratch, name);
  result.ok = !result.masters.empty();
  result.detail = result.ok ? std::to_string(result.masters.size()) + " healthy master(s) in " +
                                  watch.text()
                            : "answers, but lists no healthy master";
  return result;
}

ProbeResult probeReceiver(const std::string& url, const ProbeTls& tls) {
  ProbeResult result;
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  CurlEasyPtr curl(initialised ? curl_easy_init() : nullptr);
  if (curl == nullptr) {
    result.detail = "libcurl did not start";
    return result;
  }
  CURL* h = curl.get();
  char error[CURL_ERROR_SIZE] = {};
  const bool https = url.compare(0, 8, "https://") == 0;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
  curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kProbeTimeoutMs));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(kProbeTimeoutMs));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  if (https) setCurlTls(h, tls);  // what the delivery trusts, no more
  const Stopwatch watch;
  const CURLcode rc = curl_easy_perform(h);
  if (rc != CURLE_OK) {
    result.detail = error[0] != '\0' ? error : curl_easy_strerror(rc);
    return result;
  }
  result.ok = true;
  result.detail = std::string(https ? "TLS handshake" : "TCP connect") + " in " + watch.text();
  return result;
}
