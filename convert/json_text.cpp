#include "convert/json_text.h"

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

}  // namespace

void appendJsonString(std::string_view text, std::string* out) {
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

std::string jsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  appendJsonString(text, &out);
  return out;
}
