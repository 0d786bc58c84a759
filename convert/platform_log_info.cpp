#include "convert/platform_log_info.h"

namespace {

// True for the bytes a JSON string must escape: quote, backslash, controls.
struct EscapeTable {
  bool needs[256] = {};
  constexpr EscapeTable() {
    for (int c = 0; c < 0x20; ++c) needs[c] = true;
    needs[static_cast<unsigned char>('"')] = true;
    needs[static_cast<unsigned char>('\\')] = true;
  }
};
constexpr EscapeTable kEscape;

// Appends `text` as a JSON string: quote, backslash and the control characters
// escaped, every other byte copied.
void appendQuoted(const std::string& text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  const char* p = text.data();
  const char* const end = p + text.size();
  out->push_back('"');
  for (;;) {
    const char* plain = p;  // start of the bytes not yet copied
    while (p != end && !kEscape.needs[static_cast<unsigned char>(*p)]) ++p;
    out->append(plain, static_cast<std::size_t>(p - plain));
    if (p == end) break;
    const auto c = static_cast<unsigned char>(*p++);
    switch (c) {
      case '"': out->append("\\\"", 2); break;
      case '\\': out->append("\\\\", 2); break;
      case '\b': out->append("\\b", 2); break;
      case '\f': out->append("\\f", 2); break;
      case '\n': out->append("\\n", 2); break;
      case '\r': out->append("\\r", 2); break;
      case '\t': out->append("\\t", 2); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out->append(escape, sizeof(escape));
      }
    }
  }
  out->push_back('"');
}

// Appends the literal `name` (its terminating NUL left out), then `value` quoted.
template <std::size_t N>
void appendMember(const char (&name)[N], const std::string& value, std::string* out) {
  out->append(name, N - 1);
  appendQuoted(value, out);
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
