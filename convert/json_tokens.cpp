#include "convert/json_tokens.h"

#include <json/json.h>

#include <cstdint>
#include <sstream>

namespace {

// Reads four hex digits at *p (p < end); false when fewer remain or one is not hex.
bool hex4(const char** p, const char* end, unsigned* value) {
  if (end - *p < 4) return false;
  unsigned v = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = *(*p)++;
    v *= 16;
    if (c >= '0' && c <= '9') {
      v += static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v += static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      v += static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
  }
  *value = v;
  return true;
}

// The code point of a \u escape whose digits start at *p. A high surrogate takes the
// next six bytes as "\uXXXX" and combines with their low ten bits, whatever they are.
bool codePoint(const char** p, const char* end, unsigned* cp) {
  if (!hex4(p, end, cp)) return false;
  if (*cp >= 0xD800 && *cp <= 0xDBFF) {
    if (end - *p < 6) return false;
    if (*(*p)++ != '\\' || *(*p)++ != 'u') return false;
    unsigned low = 0;
    if (!hex4(p, end, &low)) return false;
    *cp = 0x10000 + ((*cp & 0x3FF) << 10) + (low & 0x3FF);
  }
  return true;
}

// Appends the UTF-8 form of cp (at most 0x10FFFF; surrogates encoded like others).
void appendUtf8(unsigned cp, std::string* out) {
  char b[4];
  std::size_t n;
  if (cp <= 0x7F) {
    b[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp <= 0x7FF) {
    b[0] = static_cast<char>(0xC0 | (cp >> 6));
    b[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp <= 0xFFFF) {
    b[0] = static_cast<char>(0xE0 | (cp >> 12));
    b[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    b[0] = static_cast<char>(0xF0 | (cp >> 18));
    b[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out->append(b, n);
}

}  // namespace

// Unescapes the interior [p, end) of a string literal, appending to *out when out is
// not null; false on a bad escape.
bool jsonUnescape(const char* p, const char* end, std::string* out) {
  while (p != end) {
    const char* plain = p;
    while (p != end && *p != '\\') ++p;
    if (out != nullptr) out->append(plain, p);
    if (p == end) break;
    if (++p == end) return false;  // backslash closing the literal
    char c;
    switch (*p++) {
      case '"': c = '"'; break;
      case '/': c = '/'; break;
      case '\\': c = '\\'; break;
      case 'b': c = '\b'; break;
      case 'f': c = '\f'; break;
      case 'n': c = '\n'; break;
      case 'r': c = '\r'; break;
      case 't': c = '\t'; break;
      case 'u': {
        unsigned cp = 0;
        if (!codePoint(&p, end, &cp)) return false;
        if (out != nullptr) appendUtf8(cp, out);
        continue;
      }
      default: return false;
    }
    if (out != nullptr) out->push_back(c);
  }
  return true;
}

// The library's value of the number token [p, end) as it prints it: an integer
// when the digits (after an optional "-") fit 64 bits, else a double read by a
// stream; false when that read fails (e.g. "1e400", "1e", "-.").
bool jsonNumberText(const char* p, const char* end, std::string* out) {
  const char* const start = p;
  const bool negative = *p == '-';
  if (negative) ++p;
  const uint64_t max = negative ? uint64_t{1} << 63 : UINT64_MAX;
  const uint64_t threshold = max / 10;
  uint64_t value = 0;
  bool integral = true;
  while (p < end) {
    const char c = *p++;
    if (c < '0' || c > '9') {
      integral = false;
      break;
    }
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value >= threshold && (value > threshold || p != end || digit > max % 10)) {
      integral = false;
      break;
    }
    value = value * 10 + digit;
  }
  if (integral) {
    if (out == nullptr) return true;
    if (negative && value == max) {
      out->assign(Json::valueToString(INT64_MIN));
    } else if (negative) {
      out->assign(Json::valueToString(-static_cast<Json::LargestInt>(value)));
    } else {
      out->assign(Json::valueToString(static_cast<Json::LargestUInt>(value)));
    }
    return true;
  }
  double real = 0;
  std::istringstream in(std::string(start, end));
  if (!(in >> real)) return false;
  if (out != nullptr) out->assign(Json::valueToString(real));
  return true;
}

