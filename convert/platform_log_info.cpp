#include "convert/platform_log_info.h"

#include "convert/json_text.h"

namespace {

// Appends the literal `name` (its terminating NUL left out), then `value` quoted.
template <std::size_t N>
void appendMember(const char (&name)[N], const std::string& value, std::string* out) {
  out->append(name, N - 1);
  appendJsonString(value, out);
}

}  // namespace

void appendJson(const PLATFORMLOGINFO& r, std::string* out) {
  // Names in ascending byte order.
  appendMember("{\"description\":", r.description, out);
  appendMember(",\"eventType\":", r.eventType, out);
  appendMember(",\"guid\":", r.guid, out);
  appendMember(",\"lineId\":", r.lineId, out);
  appendMember(",\"lineName\":", r.lineName, out);
  appendMember(",\"major\":", r.major, out);
  appendMember(",\"operateTime\":", r.operateTime, out);
  appendMember(",\"operator\":", r.operator_, out);
  appendMember(",\"result\":", r.result, out);
  appendMember(",\"roleName\":", r.roleName, out);
  appendMember(",\"stationId\":", r.stationId, out);
  appendMember(",\"stationName\":", r.stationName, out);
  appendMember(",\"subSystem\":", r.subSystem, out);
  appendMember(",\"target\":", r.target, out);
  appendMember(",\"userName\":", r.userName, out);
  appendMember(",\"userShortName\":", r.userShortName, out);
  appendMember(",\"workstation\":", r.workstation, out);
  out->push_back('}');
}
