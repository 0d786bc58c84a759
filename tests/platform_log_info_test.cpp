// The record writer gives the same bytes as JsonCpp's StreamWriter with emitUTF8.
#include "convert/platform_log_info.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <memory>
#include <sstream>
#include <string>

namespace {

std::string streamWriterText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  std::ostringstream out;
  writer->write(value, &out);
  return out.str();
}

}  // namespace

TEST(PlatformLogInfoTest, MatchesLibraryWriterForEveryByte) {
  std::string allBytes;
  for (int c = 0; c < 256; ++c) allBytes.push_back(static_cast<char>(c));

  PLATFORMLOGINFO r;
  r.lineId = "L\"2\"";
  r.stationId = "S\\07";
  r.operateTime = "2024-3-5 9:7:2";
  r.userName = "op01\t\n";
  r.workstation = "WS05\x7f";
  r.major = "\xB9\xA9\xB5\xE7";  // GBK, not valid UTF-8
  r.eventType = "122";
  r.guid = "1709629622:250:DEV/0042:Control";
  r.description = allBytes;
  r.lineName = "\xE4\xB8\x80";  // UTF-8
  r.stationName = std::string("a\0b", 3);

  Json::Value expected(Json::objectValue);
  expected["lineId"] = r.lineId;
  expected["stationId"] = r.stationId;
  expected["operateTime"] = r.operateTime;
  expected["operator"] = "";
  expected["userShortName"] = "";
  expected["userName"] = r.userName;
  expected["roleName"] = "";
  expected["workstation"] = r.workstation;
  expected["major"] = r.major;
  expected["subSystem"] = "";
  expected["eventType"] = r.eventType;
  expected["guid"] = r.guid;
  expected["target"] = "";
  expected["description"] = r.description;
  expected["result"] = "";
  expected["lineName"] = r.lineName;
  expected["stationName"] = r.stationName;

  std::string text;
  appendJson(r, &text);
  EXPECT_EQ(streamWriterText(expected), text);
  EXPECT_NE(std::string::npos, text.find("\"a\\u0000b\""));
}
