#include "convert/comment_guard.h"

#include <cstring>

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
