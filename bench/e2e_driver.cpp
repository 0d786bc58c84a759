// e2e_driver: the publisher and the receiver of the end-to-end benchmark
// (bench/e2e_bench.sh starts redis-server and the service, then runs this).
//
// It listens as the receiving platform on 127.0.0.1:<receiver-port>, publishes
// one-record operation-log messages on almTopic through Redis at
// 127.0.0.1:<redis-port> with pipelining, and reads the records back out of the
// documents it receives. Each record carries its trial number and publish time
// (microseconds, CLOCK_REALTIME) in "devicekey" and its sequence number in "occurms";
// both come back inside "guid", so the receiver counts records per trial and the
// latency from publish to receipt. The service's CPU time and peak RSS are read from
// /proc/<service-pid>; Redis's CPU time from /proc/<redis-pid>, and that of further
// copies (standbys) from /proc/<standby-pid>. Every measured phase reports the CPU
// seconds each of them spent in it and the documents (POST requests) received in it.
// With --figures, the figures of the pass are also appended to FILE as lines
// "<label> <key> <value>" for bench/e2e_report.py.
//
//   e2e_driver --redis-port P --receiver-port R --service-pid PID [--redis-pid PID]
//              [--standby-pid PID]... [--figures FILE --label NAME] [--quick]
//              [--drain-only | --skip-paced | --latency-only | --sweep RATE,RATE...]
//   e2e_driver --redis-port P --raw-limit [--quick]
#include <hiredis/hiredis.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/loopback_receiver.h"

namespace {

// ---- timing constants -------------------------------------------------------------
constexpr int kDrainPublishSeconds = 4;   // (a): publishing faster than the service drains
constexpr int64_t kDrainPublishRate = 100000;  // (a): messages per second, doubled until saturated
constexpr double kSaturatedShare = 0.8;   // (a): saturated below this share delivered in time
constexpr int kTrialSeconds = 6;          // (b): one paced trial
constexpr int kLatencySeconds = 10;       // (c): paced at kLatencyRate
constexpr int kLatencyRate = 2000;        // (c): messages per second
constexpr int kQuietEndMs = 1500;         // a trial ends this long after the last record
constexpr int kKeptUpMs = 1000;           // (b): last record at most this late
constexpr int kPipelineChunk = 500;       // commands sent before reading their replies
constexpr int kBisectSteps = 3;           // (b): refinements after the first loss
constexpr int64_t kRawMessages = 1000000;  // (r): messages per round, published flat out
constexpr int kRawRounds = 3;             // (r): rounds; the best is the limit
constexpr int kRawIdleSeconds = 3;        // (r): a round ends this long after the last receipt
constexpr int kSweepSeconds = 5;          // (p): one paced trial of the sweep
constexpr double kPerRecords = 100000;    // CPU figures are given per this many records

int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// What the receiver saw of one trial.
struct TrialStats {
  int64_t records = 0;               // records received
  int64_t firstUs = 0;               // receipt time of the first record
  int64_t lastUs = 0;                // receipt time of the last record
  std::vector<int64_t> latenciesUs;  // publish -> receipt, one per record
};

class Collector {
 public:
  // Reads every guid "<time>:<seq>:P<trial>T<us>:Control" out of a document.
  std::string onDocument(const std::string& body) {
    const int64_t now = nowUs();
    static const char kKey[] = "\"guid\":\"";
    std::lock_guard<std::mutex> lock(mu_);
    ++documents_;
    std::size_t pos = 0;
    while ((pos = body.find(kKey, pos)) != std::string::npos) {
      pos += sizeof(kKey) - 1;
      const std::size_t p = body.find(":P", pos);
      if (p == std::string::npos) break;
      char* end = nullptr;
      const long trial = std::strtol(body.c_str() + p + 2, &end, 10);
      if (end == nullptr || *end != 'T') continue;
      const int64_t sentUs = std::strtoll(end + 1, nullptr, 10);
      TrialStats& t = trials_[trial];
      if (t.records == 0) t.firstUs = now;
      t.lastUs = now;
      ++t.records;
      t.latenciesUs.push_back(now - sentUs);
    }
    return "{\"code\":0}";
  }

  TrialStats trial(int id) {
    std::lock_guard<std::mutex> lock(mu_);
    return trials_[id];
  }
  int64_t records(int id) {
    std::lock_guard<std::mutex> lock(mu_);
    return trials_[id].records;
  }
  int64_t documents() {
    std::lock_guard<std::mutex> lock(mu_);
    return documents_;
  }

 private:
  std::mutex mu_;
  std::map<int, TrialStats> trials_;  // guarded by mu_
  int64_t documents_ = 0;             // guarded by mu_
};

struct RedisFree {
  void operator()(redisContext* c) const { redisFree(c); }
};
using RedisPtr = std::unique_ptr<redisContext, RedisFree>;

class Publisher {
 public:
  bool connect(int port) {
    ctx_.reset(redisConnect("127.0.0.1", port));
    return ctx_ != nullptr && ctx_->err == 0;
  }

  // Publishes `count` messages of trial `trial`, paced at `rate` per second, or as
  // fast as possible when rate is 0. Returns the number published (0 on a Redis
  // failure partway).
  // Publishes at least `count` messages of trial `trial`, in whole pipeline chunks,
  // as fast as the connection takes them: the commands of one chunk are formatted
  // once and sent again and again (the messages repeat), so that the publisher
  // outruns any subscriber. Returns the number published (0 on a Redis failure).
  int64_t publishFormatted(int trial, int64_t count) {
    std::string chunk;
    for (int i = 0; i < kPipelineChunk; ++i) {
      const std::string msg = message(trial, i);
      char* cmd = nullptr;
      const int len = redisFormatCommand(&cmd, "PUBLISH almTopic %b", msg.data(), msg.size());
      if (len < 0) return 0;
      chunk.append(cmd, static_cast<std::size_t>(len));
      redisFreeCommand(cmd);
    }
    int64_t sent = 0;
    while (sent < count) {
      redisAppendFormattedCommand(ctx_.get(), chunk.data(), chunk.size());
      if (!readReplies(kPipelineChunk)) return 0;
      sent += kPipelineChunk;
    }
    return sent;
  }

  int64_t publish(int trial, int64_t count, int64_t rate) {
    const int64_t startUs = nowUs();
    int64_t sent = 0;
    while (sent < count) {
      int64_t due = count;
      if (rate > 0) {
        due = std::min<int64_t>(count, (nowUs() - startUs) * rate / 1000000 + 1);
        if (due <= sent) {
          const int64_t nextUs = startUs + (sent * 1000000) / rate;
          const int64_t waitUs = nextUs - nowUs();
          if (waitUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
          continue;
        }
      }
      const int64_t n = std::min<int64_t>(due - sent, kPipelineChunk);
      for (int64_t i = 0; i < n; ++i) {
        const std::string msg = message(trial, sent + i);
        redisAppendCommand(ctx_.get(), "PUBLISH almTopic %b", msg.data(), msg.size());
      }
      if (!readReplies(n)) return 0;
      sent += n;
    }
    return sent;
  }

 private:
  // Reads and drops the replies of the n commands sent last; false on a failure.
  bool readReplies(int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
      void* reply = nullptr;
      if (redisGetReply(ctx_.get(), &reply) != REDIS_OK) return false;
      freeReplyObject(reply);
    }
    return true;
  }

  static std::string message(int trial, int64_t seq) {
    char buf[512];
    std::snprintf(buf, sizeof(buf),
                  "[{\"classname\":\"Control\",\"occurtime\":\"1709629622\","
                  "\"occurms\":\"%" PRId64 "\",\"devicekey\":\"P%dT%" PRId64 "\","
                  "\"appsysid\":\"3\",\"chardesc\":\"Breaker 12 closed\","
                  "\"userattr[0]\":\"op01\",\"userattr[1]\":\"WS05\",\"groupname\":\"ST07\"}]",
                  seq, trial, nowUs());
    return buf;
  }

  RedisPtr ctx_;
};

// utime + stime of the process, in seconds.
double cpuSeconds(int pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(f, line);
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::strtod(field.c_str(), nullptr);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// (r) The physical limit: a bare hiredis subscriber that only counts, fed by the
// same publisher flat out. Returns the messages it received per second, from its
// first receipt to its last.
double rawSubscriberRate(int redisPort, Publisher& pub, int trial, int64_t count) {
  std::atomic<bool> subscribed{false};
  int64_t received = 0, firstUs = 0, lastUs = 0;
  std::thread sub([&] {
    RedisPtr c(redisConnect("127.0.0.1", redisPort));
    if (c == nullptr || c->err != 0) {
      subscribed = true;
      return;
    }
    void* reply = redisCommand(c.get(), "SUBSCRIBE almTopic");
    freeReplyObject(reply);
    timeval idle = {kRawIdleSeconds, 0};
    redisSetTimeout(c.get(), idle);
    subscribed = true;
    while (received < count && redisGetReply(c.get(), &reply) == REDIS_OK) {
      freeReplyObject(reply);
      lastUs = nowUs();
      if (received++ == 0) firstUs = lastUs;
    }
  });
  while (!subscribed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  pub.publishFormatted(trial, count);
  sub.join();
  return received > 1 && lastUs > firstUs
             ? static_cast<double>(received - 1) * 1e6 / static_cast<double>(lastUs - firstUs)
             : 0;
}

// A field of /proc/<pid>/status such as VmHWM, in kB; -1 when absent.
long statusKb(int pid, const char* name) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const std::string key = std::string(name) + ":";
  while (std::getline(f, line)) {
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  }
  return -1;
}

// Waits until `expected` records of the trial arrived, or none arrived for
// kQuietEndMs. Returns the records received.
int64_t waitForTrial(Collector& c, int trial, int64_t expected) {
  int64_t last = -1;
  auto lastChange = std::chrono::steady_clock::now();
  for (;;) {
    const int64_t n = c.records(trial);
    if (n >= expected) return n;
    const auto now = std::chrono::steady_clock::now();
    if (n != last) {
      last = n;
      lastChange = now;
    } else if (now - lastChange > std::chrono::milliseconds(kQuietEndMs)) {
      return n;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int64_t percentile(std::vector<int64_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The processes whose CPU time each phase reports; a pid of 0 is not watched.
struct Watched {
  int servicePid = 0;
  int redisPid = 0;
  std::vector<int> standbyPids;  // further copies capturing beside the service
};

struct TrialResult {
  int64_t published = 0;
  int64_t received = 0;
  int64_t publishEndUs = 0;
  int64_t documents = 0;  // documents (POST requests) received during the trial
  TrialStats stats;
  double cpu = 0;                  // service CPU seconds spent during the trial
  double redisCpu = 0;             // Redis CPU seconds spent during the trial
  std::vector<double> standbyCpu;  // each standby's CPU seconds, as Watched::standbyPids
};

double pidCpu(int pid) { return pid > 0 ? cpuSeconds(pid) : 0; }

TrialResult runTrial(Publisher& pub, Collector& col, int trial, int64_t count, int64_t rate,
                     const Watched& w) {
  TrialResult r;
  const double cpu0 = pidCpu(w.servicePid);
  const double redis0 = pidCpu(w.redisPid);
  std::vector<double> standby0;
  for (int pid : w.standbyPids) standby0.push_back(pidCpu(pid));
  const int64_t docs0 = col.documents();
  r.published = pub.publish(trial, count, rate);
  r.publishEndUs = nowUs();
  r.received = waitForTrial(col, trial, r.published);
  r.cpu = pidCpu(w.servicePid) - cpu0;
  r.redisCpu = pidCpu(w.redisPid) - redis0;
  for (std::size_t i = 0; i < w.standbyPids.size(); ++i) {
    r.standbyCpu.push_back(pidCpu(w.standbyPids[i]) - standby0[i]);
  }
  r.documents = col.documents() - docs0;
  r.stats = col.trial(trial);
  return r;
}

// CPU seconds per kPerRecords records delivered; 0 when none was.
double perRecords(double seconds, int64_t records) {
  return records > 0 ? seconds * kPerRecords / static_cast<double>(records) : 0.0;
}

// Prints the CPU seconds of every watched process in the trial, in all and per
// kPerRecords records, and the documents it took, as the lines
// "<tag> CPU <phase> ..." and "<tag> DOCUMENTS <phase> ...".
void printCost(const char* tag, const std::string& phase, const TrialResult& r,
               const Watched& w) {
  std::string all, per;
  char buf[128];
  auto add = [&](const char* who, double s) {
    std::snprintf(buf, sizeof(buf), "%s%s %.2f s", all.empty() ? "" : ", ", who, s);
    all += buf;
    std::snprintf(buf, sizeof(buf), "%s%s %.2f s", per.empty() ? "" : ", ", who,
                  perRecords(s, r.received));
    per += buf;
  };
  add("service", r.cpu);
  if (w.redisPid > 0) add("Redis", r.redisCpu);
  for (std::size_t i = 0; i < r.standbyCpu.size(); ++i) {
    add(("standby " + std::to_string(i + 1)).c_str(), r.standbyCpu[i]);
  }
  std::printf("%s CPU %s over %" PRId64 " records: %s; per 100,000 records: %s\n", tag,
              phase.c_str(), r.received, all.c_str(), per.c_str());
  std::printf("%s DOCUMENTS %s: %" PRId64 " for %" PRId64 " records (%.1f records per "
              "document)\n",
              tag, phase.c_str(), r.documents, r.received,
              r.documents > 0 ? static_cast<double>(r.received) / static_cast<double>(r.documents)
                              : 0.0);
  std::fflush(stdout);
}

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Appends the figures of one pass to a file as "<label> <key> <value>" lines, for
// bench/e2e_report.py. Does nothing until open() succeeded.
class FigureLog {
 public:
  bool open(const std::string& path, const std::string& label) {
    file_.reset(std::fopen(path.c_str(), "a"));
    label_ = label;
    return file_ != nullptr;
  }

  void put(const std::string& key, double value) {
    if (file_ == nullptr) return;
    std::fprintf(file_.get(), "%s %s %.6g\n", label_.c_str(), key.c_str(), value);
    std::fflush(file_.get());
  }

  // The figures of one trial under the key prefix `p`.
  void putTrial(const std::string& p, const TrialResult& r) {
    put(p + ".published", static_cast<double>(r.published));
    put(p + ".received", static_cast<double>(r.received));
    put(p + ".documents", static_cast<double>(r.documents));
    put(p + ".service_cpu_s", r.cpu);
    put(p + ".redis_cpu_s", r.redisCpu);
    double standbys = 0;
    for (double s : r.standbyCpu) standbys += s;
    put(p + ".standby_cpu_s", standbys);
    put(p + ".p50_ms", static_cast<double>(percentile(r.stats.latenciesUs, 0.50)) / 1000.0);
    put(p + ".p99_ms", static_cast<double>(percentile(r.stats.latenciesUs, 0.99)) / 1000.0);
    put(p + ".max_ms", static_cast<double>(percentile(r.stats.latenciesUs, 1.0)) / 1000.0);
  }

 private:
  FilePtr file_;
  std::string label_;
};

// "500,1000,2000" -> {500, 1000, 2000}; empty on anything else.
std::vector<int64_t> parseRates(const std::string& text) {
  std::vector<int64_t> rates;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const long long r = std::strtoll(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || r <= 0) return {};
    rates.push_back(r);
  }
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  int redisPort = 0, receiverPort = 0;
  Watched watched;
  bool quick = false;
  bool drainOnly = false;    // only phase (a), with its CPU figure
  bool skipPaced = false;    // phases (a), (c) and (d), without the paced trials of (b)
  bool latencyOnly = false;  // only phase (c)
  bool rawLimit = false;     // only (r), with no service subscribed
  std::vector<int64_t> sweepRates;  // only (p): one paced trial at each rate
  std::string figuresPath, label = "pass";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--redis-port" && i + 1 < argc) {
      redisPort = std::atoi(argv[++i]);
    } else if (a == "--receiver-port" && i + 1 < argc) {
      receiverPort = std::atoi(argv[++i]);
    } else if (a == "--service-pid" && i + 1 < argc) {
      watched.servicePid = std::atoi(argv[++i]);
    } else if (a == "--redis-pid" && i + 1 < argc) {
      watched.redisPid = std::atoi(argv[++i]);
    } else if (a == "--standby-pid" && i + 1 < argc) {
      watched.standbyPids.push_back(std::atoi(argv[++i]));
    } else if (a == "--figures" && i + 1 < argc) {
      figuresPath = argv[++i];
    } else if (a == "--label" && i + 1 < argc) {
      label = argv[++i];
    } else if (a == "--sweep" && i + 1 < argc) {
      sweepRates = parseRates(argv[++i]);
      if (sweepRates.empty()) {
        std::fprintf(stderr, "e2e_driver: --sweep wants rates such as 500,1000,2000\n");
        return 2;
      }
    } else if (a == "--quick") {
      quick = true;
    } else if (a == "--drain-only") {
      drainOnly = true;
    } else if (a == "--skip-paced") {
      skipPaced = true;
    } else if (a == "--latency-only") {
      latencyOnly = true;
    } else if (a == "--raw-limit") {
      rawLimit = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s --redis-port P --receiver-port R --service-pid PID "
                   "[--redis-pid PID] [--standby-pid PID]... [--figures FILE --label NAME] "
                   "[--quick] [--drain-only | --skip-paced | --latency-only | --sweep RATES | "
                   "--raw-limit]\n",
                   argv[0]);
      return 2;
    }
  }
  if (rawLimit && redisPort > 0) {
    Publisher pub;
    if (!pub.connect(redisPort)) return 1;
    double best = 0;
    for (int round = 1; round <= (quick ? 1 : kRawRounds); ++round) {
      const double rate = rawSubscriberRate(redisPort, pub, -round, kRawMessages / (quick ? 5 : 1));
      std::printf("(r) bare hiredis subscriber, round %d: %.0f messages/s\n", round, rate);
      best = std::max(best, rate);
    }
    std::printf("(r) RAW LIMIT: %.0f one-record messages/s received\n", best);
    return 0;
  }
  const int servicePid = watched.servicePid;
  if (redisPort <= 0 || receiverPort <= 0 || servicePid <= 0) {
    std::fprintf(stderr, "e2e_driver: --redis-port, --receiver-port and --service-pid are needed\n");
    return 2;
  }
  FigureLog figures;
  if (!figuresPath.empty() && !figures.open(figuresPath, label)) {
    std::fprintf(stderr, "e2e_driver: cannot append to %s\n", figuresPath.c_str());
    return 1;
  }
  const int scale = quick ? 5 : 1;  // --quick shortens every phase

  Collector collector;
  LoopbackReceiver receiver(
      [&](const std::string&, const std::string& body) { return collector.onDocument(body); });
  if (!receiver.start(receiverPort)) {
    std::fprintf(stderr, "e2e_driver: %s\n", receiver.error().c_str());
    return 1;
  }
  Publisher pub;
  if (!pub.connect(redisPort)) {
    std::fprintf(stderr, "e2e_driver: cannot connect to redis on port %d\n", redisPort);
    return 1;
  }

  int trial = 0;
  // Warm-up: the service must be subscribed and delivering.
  {
    TrialResult w = runTrial(pub, collector, ++trial, 100, 1000, watched);
    if (w.received != w.published) {
      std::fprintf(stderr, "e2e_driver: warm-up delivered %" PRId64 " of %" PRId64 " records\n",
                   w.received, w.published);
      return 1;
    }
  }

  // (p) Latency, CPU and documents against the publish rate, for the picture.
  if (!sweepRates.empty()) {
    const int seconds = quick ? kSweepSeconds / 2 : kSweepSeconds;
    for (int64_t rate : sweepRates) {
      TrialResult p = runTrial(pub, collector, ++trial, rate * seconds, rate, watched);
      const std::vector<int64_t>& lat = p.stats.latenciesUs;
      std::printf("(p) SWEEP %6" PRId64 " msg/s over %" PRId64 " records: p50 %.1f ms, p99 %.1f "
                  "ms; per 100,000 records: service CPU %.2f s, Redis CPU %.2f s; %" PRId64
                  " documents (delivered %" PRId64 " of %" PRId64 ")\n",
                  rate, p.received, percentile(lat, 0.50) / 1000.0,
                  percentile(lat, 0.99) / 1000.0, perRecords(p.cpu, p.received),
                  perRecords(p.redisCpu, p.received), p.documents, p.received, p.published);
      std::fflush(stdout);
      const std::string key = "p" + std::to_string(rate);
      figures.put(key + ".rate", static_cast<double>(rate));
      figures.put(key + ".seconds", seconds);
      figures.putTrial(key, p);
    }
    receiver.stop();
    return 0;
  }

  // (c) Latency at 2,000 messages per second, first, so that the peak RSS after it
  // is the paced one.
  TrialResult c;
  if (!drainOnly) {
    c = runTrial(pub, collector, ++trial, kLatencyRate * std::max(2, kLatencySeconds / scale),
                 kLatencyRate, watched);
    const std::vector<int64_t>& lat = c.stats.latenciesUs;
    std::printf("(c) LATENCY at %d msg/s over %zu records: p50 %.1f ms, p99 %.1f ms, max %.1f "
                "ms (delivered %" PRId64 " of %" PRId64 ")\n",
                kLatencyRate, lat.size(), percentile(lat, 0.50) / 1000.0,
                percentile(lat, 0.99) / 1000.0, percentile(lat, 1.0) / 1000.0, c.received,
                c.published);
    const long pacedHwm = statusKb(servicePid, "VmHWM");
    std::printf("(c) SERVICE PEAK RSS while paced (VmHWM before the drain): %.1f MB\n",
                pacedHwm / 1024.0);
    printCost("(c)", "at " + std::to_string(kLatencyRate) + " msg/s", c, watched);
    figures.putTrial("c", c);
    figures.put("c.rate", kLatencyRate);
    figures.put("c.vmhwm_mb", pacedHwm / 1024.0);
    if (latencyOnly) {
      receiver.stop();
      return 0;
    }
  }

  // (a) Drain rate: publish faster than the service drains. The service's queue
  // overflows and keeps its newest texts, so records are lost by design; the rate
  // is what reached the receiver per second while the service was busy. Paced
  // rather than flat out, so that the service stays saturated for the whole phase
  // instead of receiving everything in one burst.
  TrialResult a;
  int aTrial = 0;
  double drainRate = 0;
  for (int64_t rate = kDrainPublishRate;; rate *= 2) {
    const int seconds = quick ? 2 : kDrainPublishSeconds;
    std::printf("(a) drain: publishing %" PRId64 " one-record messages/s for %d s\n", rate,
                seconds);
    std::fflush(stdout);
    aTrial = ++trial;
    a = runTrial(pub, collector, aTrial, rate * seconds, rate, watched);
    const double drainSeconds = static_cast<double>(a.stats.lastUs - a.stats.firstUs) / 1e6;
    drainRate = drainSeconds > 0 ? static_cast<double>(a.received) / drainSeconds : 0;
    std::printf("    delivered %" PRId64 " of %" PRId64 " (%" PRId64
                " dropped by the service's queue bound) in %.2f s\n",
                a.received, a.published, a.published - a.received, drainSeconds);
    // Durable delivery drops nothing: there, falling behind shows as a late last record.
    const bool late = (a.stats.lastUs - a.publishEndUs) / 1000 > kKeptUpMs;
    // Saturated: a fifth or more dropped, or (durable) delivered well after the end.
    const bool saturated =
        static_cast<double>(a.received) < kSaturatedShare * static_cast<double>(a.published) ||
        late;
    if (saturated || rate >= 8 * kDrainPublishRate) break;
    std::printf("    the service nearly kept up: publishing faster\n");
  }
  const long drainHwm = statusKb(servicePid, "VmHWM");
  std::printf("(a) DRAIN RATE: %.0f records/s   [service VmHWM so far %.1f MB]\n", drainRate,
              drainHwm / 1024.0);
  printCost("(a)", "while draining", a, watched);
  figures.putTrial("a", a);
  figures.put("a.drain_rate", drainRate);
  figures.put("a.vmhwm_mb", drainHwm / 1024.0);
  // The records of the drain that never arrived, counted once more at the end of the
  // pass: a durable copy may deliver the last of them after a pause.
  auto reportLoss = [&] {
    const int64_t atEnd = waitForTrial(collector, aTrial, a.published);
    std::printf("(a) LOSS: %" PRId64 " of %" PRId64 " records of the drain never arrived "
                "(counted at the end of the pass)\n",
                a.published - atEnd, a.published);
    figures.put("a.received_at_end", static_cast<double>(atEnd));
    std::fflush(stdout);
  };
  if (drainOnly) {
    std::printf("(a) SERVICE CPU per 100,000 records while draining: %.2f s\n",
                perRecords(a.cpu, a.received));
    reportLoss();
    receiver.stop();
    return 0;
  }

  // (b) Highest paced rate with zero loss: every record delivered, and the last one
  // no later than kKeptUpMs after publishing ended (so the service kept pace rather
  // than buffering the surplus in its queue).
  std::printf("(b) paced trials of %d s each (pass = zero loss and the last record within "
              "%d ms of the end of publishing)\n", kTrialSeconds / (quick ? 2 : 1), kKeptUpMs);
  const int trialSeconds = quick ? kTrialSeconds / 2 : kTrialSeconds;
  auto tryRate = [&](int64_t rate) {
    TrialResult t = runTrial(pub, collector, ++trial, rate * trialSeconds, rate, watched);
    const int64_t lagMs = t.received > 0 ? (t.stats.lastUs - t.publishEndUs) / 1000 : -1;
    const bool pass = t.received == t.published && lagMs <= kKeptUpMs;
    std::printf("    %6" PRId64 " msg/s: delivered %" PRId64 " of %" PRId64
                ", last record %" PRId64 " ms after publishing ended, p99 latency %.1f ms, "
                "%" PRId64 " documents, Redis CPU %.2f s: %s\n",
                rate, t.received, t.published, lagMs,
                static_cast<double>(percentile(t.stats.latenciesUs, 0.99)) / 1000.0,
                t.documents, t.redisCpu, pass ? "pass" : "FAIL");
    std::fflush(stdout);
    return pass;
  };
  int64_t lo = 0, hi = 0;
  for (int64_t rate = 5000; !skipPaced && rate <= 160000; rate *= 2) {
    if (tryRate(rate)) {
      lo = rate;
    } else {
      hi = rate;
      break;
    }
  }
  if (hi > 0 && lo > 0) {
    for (int i = 0; i < (quick ? 1 : kBisectSteps); ++i) {
      const int64_t mid = (lo + hi) / 2 / 500 * 500;
      if (mid <= lo || mid >= hi) break;
      if (tryRate(mid)) lo = mid; else hi = mid;
    }
  }
  if (!skipPaced) {
    std::printf("(b) HIGHEST ZERO-LOSS PACED RATE: %" PRId64 " msg/s%s   [service VmHWM so far "
                "%.1f MB]\n", lo, hi == 0 ? " (every rate tried passed)" : "",
                statusKb(servicePid, "VmHWM") / 1024.0);
    figures.put("b.highest_rate", static_cast<double>(lo));
  }
  std::fflush(stdout);

  // (d) Memory and CPU of the service, and Redis's CPU beside it.
  const long hwm = statusKb(servicePid, "VmHWM");
  const long rss = statusKb(servicePid, "VmRSS");
  std::printf("(d) SERVICE PEAK RSS (VmHWM): %.1f MB (now %.1f MB)\n", hwm / 1024.0, rss / 1024.0);
  std::printf("(d) SERVICE CPU per 100,000 records: %.2f s while draining (a), %.2f s at %d "
              "msg/s (c)\n",
              perRecords(a.cpu, a.received), perRecords(c.cpu, c.received), kLatencyRate);
  if (watched.redisPid > 0) {
    std::printf("(d) REDIS CPU per 100,000 records: %.2f s while draining (a), %.2f s at %d "
                "msg/s (c)\n",
                perRecords(a.redisCpu, a.received), perRecords(c.redisCpu, c.received),
                kLatencyRate);
  }
  std::printf("    documents received in all: %" PRId64 "\n", collector.documents());
  figures.put("d.vmhwm_mb", hwm / 1024.0);
  std::fflush(stdout);
  reportLoss();
  receiver.stop();
  return 0;
}
