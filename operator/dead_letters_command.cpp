#include "operator/dead_letters_command.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "convert/message_scanner.h"
#include "durable/durable_keys.h"
#include "platform/clock_text.h"
#include "platform/decimal.h"
#include "redis/redis_client.h"
#include "redis/reply_fields.h"

namespace {

constexpr const char* kDurableOff =
    "durable delivery is off (Durable=1 is not set in cfg/tarvex.ini): there are no dead "
    "letters\n";
constexpr const char* kRedriveUsage =
    "usage: tarvex --redrive ID... [--dry-run] | tarvex --redrive --all [--dry-run]\n";

struct DeadLetter {
  std::string id;
  std::string text;
  std::string status;
  std::string reply;
  int64_t time = 0;  // wall seconds it was set aside
};

bool entryOf(const redisReply* e, DeadLetter* out) {
  if (!replyIsArray(e) || e->elements < 2) return false;
  out->id = replyText(e->element[0]);
  out->text = replyText(replyField(e->element[1], "text"));
  out->status = replyText(replyField(e->element[1], "status"), "?");
  out->reply = replyText(replyField(e->element[1], "reply"));
  out->time = replyInteger(replyField(e->element[1], "time"), streamIdMillis(out->id) / 1000);
  return true;
}

std::vector<DeadLetter> entriesOf(const redisReply* r) {
  std::vector<DeadLetter> out;
  if (!replyIsArray(r)) return out;
  for (std::size_t i = 0; i < r->elements; ++i) {
    DeadLetter d;
    if (entryOf(r->element[i], &d)) out.push_back(std::move(d));
  }
  return out;
}

// The "guid" the conversion gives each record: occurtime:occurms:devicekey:classname.
class GuidCollector : public MessageScanner::RecordSink {
 public:
  void onRecord(MessageScanner::Record& r) override {
    if (!r.isObject) return;
    ++count;
    if (guids.size() >= kGuidsShown) return;
    guids.push_back(std::to_string(decimalInt32(r.text[MessageScanner::kOccurtime])) + ":" +
                    r.text[MessageScanner::kOccurms] + ":" + r.text[MessageScanner::kDevicekey] +
                    ":" + r.text[MessageScanner::kClassname]);
  }
  std::vector<std::string> guids;
  std::size_t count = 0;
};

std::string guidsText(const std::string& text) {
  MessageScanner scanner;
  GuidCollector c;
  if (scanner.read(text, &c) == MessageScanner::Outcome::kRefused) return "(not readable JSON)";
  if (c.count == 0) return "(no records)";
  std::string out;
  for (const std::string& g : c.guids) out += (out.empty() ? "" : " ") + g;
  if (c.count > c.guids.size()) out += " (+" + std::to_string(c.count - c.guids.size()) + " more)";
  return out;
}

// The first kReplyBytesShown bytes, control bytes as blanks.
std::string replyShown(const std::string& reply) {
  std::string out = reply.substr(0, kReplyBytesShown);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  if (reply.size() > kReplyBytesShown) out += "...";
  return out;
}

bool validId(const char* text) {
  const char* dash = std::strchr(text, '-');
  if (dash == nullptr || dash == text || dash[1] == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p != dash && (*p < '0' || *p > '9')) return false;
  }
  return true;
}

// False, after one line saying why, when the options are unreadable or durable
// delivery is off.
bool usableOptions(const RedisClient& client, std::FILE* out) {
  if (client.options.unreadable) {
    std::fprintf(stderr, "tarvex: cfg/tarvex.ini cannot be read (%s)\n",
                 client.options.whyUnreadable.c_str());
    return false;
  }
  if (client.options.durable != 1) {
    std::fputs(kDurableOff, out);
    return false;
  }
  return true;
}

void noAnswer(const RedisClient& client, int which) {
  const RedisAddress& a = which == 1 ? client.readAddr : client.masterAddr;
  std::fprintf(stderr, "tarvex: no answer from Redis (%s:%d)\n", a.host, static_cast<int>(a.port));
}

void printEntry(std::FILE* out, const DeadLetter& d, const char* lead) {
  std::fprintf(out, "%s%s  %s  status %s  reply: %s\n", lead, d.id.c_str(),
               localDateTimeText(d.time).c_str(), d.status.c_str(), replyShown(d.reply).c_str());
  std::fprintf(out, "%*s  guid: %s\n", static_cast<int>(std::strlen(lead) + d.id.size()), "",
               guidsText(d.text).c_str());
}

// Runs kRedriveScript for `id`: 1 moved, 0 no such dead letter, -1 refused (the
// reason printed), -2 no answer.
int redriveOne(RedisClient& client, const std::string& id, const std::string& maxLen) {
  RedisReplyPtr r = client.exchange(
      2, {"EVAL", kRedriveScript, "2", kCaptureStream, kDeadLetterStream, id, maxLen});
  if (r == nullptr) return -2;
  if (r->type == REDIS_REPLY_ERROR) {
    std::fprintf(stderr, "tarvex: %s not moved: %s\n", id.c_str(), replyText(r.get()).c_str());
    return -1;
  }
  return r->type == REDIS_REPLY_NIL ? 0 : 1;
}

}  // namespace

int runDeadLetters(std::FILE* out, int argc, char** argv) {
  int32_t n = kDeadLettersShown;
  if (argc > 3 || (argc == 3 && !decimalInRange(argv[2], 1, kDeadLettersMostShown, &n))) {
    std::fputs("usage: tarvex --deadletters [N]   (N from 1 to 100000, default 20)\n", stderr);
    return 1;
  }
  RedisClient client;
  if (!usableOptions(client, out)) return 1;
  client.connect(1);
  RedisReplyPtr len = client.exchange(1, {"XLEN", kDeadLetterStream});
  RedisReplyPtr newest =
      client.exchange(1, {"XREVRANGE", kDeadLetterStream, "+", "-", "COUNT", std::to_string(n)});
  if (len == nullptr || newest == nullptr || !replyIsArray(newest.get())) {
    noAnswer(client, 1);
    return 1;
  }
  const std::vector<DeadLetter> entries = entriesOf(newest.get());
  const int64_t total = replyInteger(len.get(), 0);
  if (entries.empty()) {
    std::fputs("no dead letters\n", out);
    return 0;
  }
  std::fprintf(out, "%lld dead letter%s; the newest %zu, newest first:\n",
               static_cast<long long>(total), total == 1 ? "" : "s", entries.size());
  for (const DeadLetter& d : entries) printEntry(out, d, "");
  std::fflush(out);
  return 0;
}

int runRedrive(std::FILE* out, int argc, char** argv) {
  bool all = false, dryRun = false;
  std::vector<std::string> ids;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--all") == 0) {
      all = true;
    } else if (std::strcmp(argv[i], "--dry-run") == 0) {
      dryRun = true;
    } else if (validId(argv[i])) {
      ids.push_back(argv[i]);
    } else {
      std::fprintf(stderr, "tarvex: %s is not a dead-letter id (like 1718012345678-0)\n", argv[i]);
      std::fputs(kRedriveUsage, stderr);
      return 1;
    }
  }
  if (all == !ids.empty()) {  // neither or both
    std::fputs(kRedriveUsage, stderr);
    return 1;
  }
  RedisClient client;
  if (!usableOptions(client, out)) return 1;
  client.connect(2);
  const std::string maxLen = std::to_string(client.options.streamMaxLen);

  long moved = 0, missing = 0, failed = 0;
  // One dead letter read (dry run) or moved; false when Redis gave no answer.
  auto handle = [&](const std::string& id, const DeadLetter* known) {
    if (dryRun) {
      DeadLetter d;
      if (known == nullptr) {
        RedisReplyPtr r = client.exchange(2, {"XRANGE", kDeadLetterStream, id, id});
        if (r == nullptr) return false;
        const std::vector<DeadLetter> found = entriesOf(r.get());
        if (found.empty()) {
          std::fprintf(out, "no dead letter %s\n", id.c_str());
          ++missing;
          return true;
        }
        d = found[0];
        known = &d;
      }
      printEntry(out, *known, "would move ");
      ++moved;
      return true;
    }
    const int result = redriveOne(client, id, maxLen);
    if (result == -2) return false;
    if (result == 1) {
      std::fprintf(out, "moved %s\n", id.c_str());
      ++moved;
    } else if (result == 0) {
      std::fprintf(out, "no dead letter %s\n", id.c_str());
      ++missing;
    } else {
      ++failed;
    }
    return true;
  };

  if (all) {
    // Every entry up to the newest one there now, a page at a time.
    RedisReplyPtr last =
        client.exchange(2, {"XREVRANGE", kDeadLetterStream, "+", "-", "COUNT", "1"});
    if (!replyIsArray(last.get())) {
      noAnswer(client, 2);
      return 1;
    }
    const std::vector<DeadLetter> newest = entriesOf(last.get());
    last.reset();
    std::string from = "-";
    while (!newest.empty()) {
      RedisReplyPtr page = client.exchange(2, {"XRANGE", kDeadLetterStream, from, newest[0].id,
                                               "COUNT", std::to_string(kRedrivePage)});
      if (!replyIsArray(page.get())) {
        noAnswer(client, 2);
        return 1;
      }
      const std::vector<DeadLetter> entries = entriesOf(page.get());
      page.reset();
      if (entries.empty()) break;
      for (const DeadLetter& d : entries) {
        if (!handle(d.id, &d)) {
          noAnswer(client, 2);
          return 1;
        }
      }
      from = "(" + entries.back().id;
    }
  } else {
    for (const std::string& id : ids) {
      if (!handle(id, nullptr)) {
        noAnswer(client, 2);
        return 1;
      }
    }
  }
  if (dryRun) {
    std::fprintf(out, "%ld dead letter%s would move to %s (dry run: nothing moved)\n", moved,
                 moved == 1 ? "" : "s", kCaptureStream);
  } else {
    std::fprintf(out, "%ld dead letter%s moved to %s", moved, moved == 1 ? "" : "s",
                 kCaptureStream);
    if (missing > 0) std::fprintf(out, ", %ld not found", missing);
    if (failed > 0) std::fprintf(out, ", %ld failed", failed);
    std::fputs("\n", out);
  }
  std::fflush(out);
  return 0;
}
