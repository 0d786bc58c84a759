#include "convert/platform_log_info.h"

namespace {

// Appends `text` as a JSON string: quote, backslash and the control characters
// escaped, every other byte copied.
void appendQuoted(const std::string& text, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  std::size_t plain = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out->append(text, plain, i - plain);
    plain = i + 1;
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\b': out->append("\\b"); break;
      case '\f': out->append("\\f"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out->append(escape, sizeof(escape));
      }
    }
  }
  out->append(text, plain, std::string::npos);
  out->push_back('"');
}

void appendMember(const char* name, const std::string& value, std::string* out) {
  out->append(name);
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
