// Reading one operation record (a JSON object) and the texts made from it.
//
// memberText: the member `name` of `record` as text. A string gives its bytes
// unchanged; a number gives its decimal text; a missing member, null, a Boolean,
// an array or an object give "". `record` must be an object. Never throws. With
// MessageReader, the reference for MessageScanner's member texts.
//
// Record numbers are read with decimalInt32 (platform/decimal.h).
//
// operateTimeText: *out becomes the local date and time of `seconds` after
// 1970-01-01 UTC (its buffer is reused), as
// "%d-%d-%d %d:%d:%d" (year, month, day, hour, minute, second; no leading zeros),
// in the zone of the process's last tzset(): callers converting a batch run tzset()
// once before it, so that a changed TZ counts from the next batch on.
#ifndef TARVEX_CONVERT_RECORD_FIELDS_H_
#define TARVEX_CONVERT_RECORD_FIELDS_H_

#include <json/json.h>

#include <cstdint>
#include <string>

#include "platform/decimal.h"

std::string memberText(const Json::Value& record, const char* name);
void operateTimeText(int32_t seconds, std::string* out);

#endif  // TARVEX_CONVERT_RECORD_FIELDS_H_
