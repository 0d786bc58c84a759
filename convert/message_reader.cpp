#include "convert/message_reader.h"

#include <cstring>

namespace {

// True when a "/" stands outside every string literal. JSON has no "/" token, so
// such a byte can only start a comment (which the strict features of the library
// let through in some positions) or be a syntax error.
bool hasSlashOutsideStrings(const std::string& text) {
  if (std::memchr(text.data(), '/', text.size()) == nullptr) return false;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '/') {
      return true;
    }
  }
  return false;
}

}  // namespace

MessageReader::MessageReader() : reader_(Json::Features::strictMode()) {}

bool MessageReader::parse(const std::string& text, Json::Value* root) {
  if (hasSlashOutsideStrings(text)) return false;
  try {
    // The library throws past its nesting limit; a text like that is refused.
    return reader_.parse(text.data(), text.data() + text.size(), *root, true);
  } catch (...) {
    return false;
  }
}
