#include "operator/fleet_status.h"

#include <json/json.h>

#include <algorithm>
#include <ctime>
#include <vector>

#include "platform/clock_text.h"
#include "status/status_view.h"

namespace {

constexpr int kLabelWidth = 14;         // the first column of the text
constexpr int64_t kSecondsShown = 120;  // ages below this in seconds, then minutes ...
constexpr int64_t kMinutesShown = 120 * 60;
constexpr int64_t kHoursShown = 48 * 3600;

std::string label(const std::string& name) {
  std::string text = name;
  text.resize(std::max<std::size_t>(name.size() + 1, kLabelWidth), ' ');
  return text;
}

const std::string kIndent(kLabelWidth, ' ');

// Rows of cells printed in aligned columns, two blanks apart, after the indent.
std::string table(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> width;
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (width.size() <= i) width.push_back(0);
      width[i] = std::max(width[i], row[i].size());
    }
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line = kIndent;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    out += line + "\n";
  }
  return out;
}

std::string ownerLine(const FleetSnapshot& s) {
  if (s.ownerRead == -1) return "unknown: useflag:tarvex cannot be read";
  if (s.ownerRead == 0) return "none: useflag:tarvex names no owner";
  const std::string written = "written " + ageText(s.nowMs / 1000 - s.heartbeatWall) + " ago";
  if (s.heartbeatMoving) return s.ownerHost + ", heartbeat moving (" + written + ")";
  return s.ownerHost + ", heartbeat STILL for " + ageText(s.watchedMs / 1000) + " (" + written +
         ")";
}

std::string countText(int64_t n) { return n < 0 ? "?" : groupThousands(static_cast<uint64_t>(n)); }

std::string backlogLine(const FleetSnapshot& s) {
  std::string text = countText(s.streamLength) + (s.streamLength == 1 ? " entry" : " entries") +
                     " kept: " + countText(s.unread) + " unread, " + countText(s.pending) +
                     " pending";
  if (s.oldestWaitingMs >= 0) text += ", oldest waiting " + ageText(s.oldestWaitingMs / 1000);
  return text;
}

std::string deadLetterLine(const FleetSnapshot& s) {
  if (s.deadLetters <= 0) return s.deadLetters == 0 ? "none" : "?";
  std::string text = countText(s.deadLetters);
  if (s.newestDeadLetterWall > 0) {
    text += ", the newest set aside " + ageText(s.nowMs / 1000 - s.newestDeadLetterWall) + " ago";
  }
  return text + " (tarvex --deadletters)";
}

Json::Value countJson(int64_t n) { return n < 0 ? Json::Value() : Json::Value(Json::Int64(n)); }

}  // namespace

std::string ageText(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds < kSecondsShown) return std::to_string(seconds) + " s";
  if (seconds < kMinutesShown) return std::to_string(seconds / 60) + " min";
  if (seconds < kHoursShown) return std::to_string(seconds / 3600) + " h";
  return std::to_string(seconds / 86400) + " d";
}

std::string fleetStatusText(const FleetSnapshot& s) {
  if (!s.answered) return label("redis") + "no answer from " + s.redisAddress + "\n";
  const int64_t now = s.nowMs / 1000;
  std::string out = label("owner") + ownerLine(s) + "\n";
  if (!s.durable) {
    return out + label("durable") +
           "off (Durable=1 is not set in cfg/tarvex.ini): no copies, backlog or dead letters "
           "are kept in Redis\n";
  }
  out += label("copies") + std::to_string(s.copies.size()) + " reported in the last minute\n";
  if (!s.copies.empty()) {
    std::vector<std::vector<std::string>> rows = {
        {"HOST", "ROLE", "SUBSCRIBED", "VERSION", "UP", "LAST REPORT"}};
    for (const CopyReport& c : s.copies) {
      rows.push_back({c.host, c.role, c.subscribed ? "yes" : "NO", c.version,
                      ageText(now - c.startedWall), ageText(now - c.reportedWall) + " ago"});
    }
    out += table(rows);
  }
  out += label("backlog") + backlogLine(s) + "\n";
  out += label("dead letters") + deadLetterLine(s) + "\n";
  std::vector<std::vector<std::string>> gaps;
  for (const CopyReport& c : s.copies) {
    for (const GapRecord& g : c.gaps) {
      gaps.push_back({c.host, localClockText(g.fromWall) + " to " + localClockText(g.toWall),
                      ageText(g.toWall - g.fromWall)});
    }
  }
  if (gaps.empty()) return out + label("gaps") + "none reported in the last hour\n";
  out += label("gaps") + std::to_string(gaps.size()) + " reported in the last hour\n";
  return out + table(gaps);
}

std::string fleetStatusJson(const FleetSnapshot& s) {
  Json::Value root(Json::objectValue);
  root["ok"] = s.answered && s.ownerRead == 1 && s.heartbeatMoving;
  root["redis"] = s.redisAddress;
  root["answered"] = s.answered;
  if (s.answered) {
    const int64_t now = s.nowMs / 1000;
    root["time"] = Json::Int64(now);
    Json::Value owner;  // null without an owner
    if (s.ownerRead == 1) {
      owner["host"] = s.ownerHost;
      owner["heartbeat"] = Json::Int64(s.heartbeatWall);
      owner["heartbeat_age_seconds"] = Json::Int64(std::max<int64_t>(0, now - s.heartbeatWall));
      owner["moving"] = s.heartbeatMoving;
      owner["watched_seconds"] = Json::Int64(s.watchedMs / 1000);
    }
    root["owner"] = owner;
    root["durable"] = s.durable;
    if (s.durable) {
      Json::Value copies(Json::arrayValue);
      Json::Value gaps(Json::arrayValue);
      for (const CopyReport& c : s.copies) {
        Json::Value one;
        one["host"] = c.host;
        one["role"] = c.role;
        one["version"] = c.version;
        one["subscribed"] = c.subscribed;
        one["started"] = Json::Int64(c.startedWall);
        one["up_seconds"] = Json::Int64(std::max<int64_t>(0, now - c.startedWall));
        one["reported_seconds_ago"] = Json::Int64(std::max<int64_t>(0, now - c.reportedWall));
        copies.append(one);
        for (const GapRecord& g : c.gaps) {
          Json::Value gap;
          gap["host"] = c.host;
          gap["from"] = Json::Int64(g.fromWall);
          gap["to"] = Json::Int64(g.toWall);
          gap["seconds"] = Json::Int64(g.toWall - g.fromWall);
          gaps.append(gap);
        }
      }
      root["copies"] = copies;
      Json::Value backlog;
      backlog["length"] = countJson(s.streamLength);
      backlog["unread"] = countJson(s.unread);
      backlog["pending"] = countJson(s.pending);
      backlog["oldest_waiting_seconds"] = s.oldestWaitingMs < 0
                                              ? Json::Value()
                                              : Json::Value(Json::Int64(s.oldestWaitingMs / 1000));
      root["backlog"] = backlog;
      Json::Value dead;
      dead["count"] = countJson(s.deadLetters);
      dead["newest_seconds_ago"] =
          s.newestDeadLetterWall > 0
              ? Json::Value(Json::Int64(std::max<int64_t>(0, now - s.newestDeadLetterWall)))
              : Json::Value();
      root["dead_letters"] = dead;
      root["gaps"] = gaps;
    }
  }
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, root) + "\n";
}

int runFleetStatus(std::FILE* out, bool json) {
  RedisClient client;
  if (client.options.unreadable) {
    std::fprintf(stderr, "tarvex: cfg/tarvex.ini cannot be read (%s)\n",
                 client.options.whyUnreadable.c_str());
    return 1;
  }
  client.connect(1);
  const FleetSnapshot s = readFleet(client);
  const std::string text = json ? fleetStatusJson(s) : fleetStatusText(s);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
  return s.answered && s.ownerRead == 1 && s.heartbeatMoving ? 0 : 1;
}
