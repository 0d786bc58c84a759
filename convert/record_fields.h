// Reading one operation record (a JSON object) and the texts made from it.
//
// memberText: the member `name` of `record` as text. A string gives its bytes
// unchanged; a number gives its decimal text; a missing member, null, a Boolean,
// an array or an object give "". `record` must be an object. Never throws.
//
// decimalInt32: reads `text` as a signed 32-bit number: optional leading white
// space, an optional sign, then decimal digits up to the first other byte. No
// digits give 0; values beyond the 32-bit range give INT32_MAX or INT32_MIN.
//
// operateTimeText: the local date and time of `seconds` after 1970-01-01 UTC, as
// "%d-%d-%d %d:%d:%d" (year, month, day, hour, minute, second; no leading zeros).
#ifndef TARVEX_CONVERT_RECORD_FIELDS_H_
#define TARVEX_CONVERT_RECORD_FIELDS_H_

#include <json/json.h>

#include <cstdint>
#include <string>

std::string memberText(const Json::Value& record, const char* name);
int32_t decimalInt32(const std::string& text);
std::string operateTimeText(int32_t seconds);

#endif  // TARVEX_CONVERT_RECORD_FIELDS_H_
