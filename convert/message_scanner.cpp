#include "convert/message_scanner.h"

#include <json/json.h>

#include <cstdint>
#include <cstring>
#include <sstream>

#include "convert/comment_guard.h"

// The grammar below follows JsonCpp's Reader in strict mode token by token, so that
// the same texts pass: a value is read where the library reads one, and wherever it
// reads a token, any token other than the one expected is an error.

namespace {

// Deepest value (the root is level 1) the library reads; deeper ones make it throw.
constexpr int kMaxDepth = 1000;

const char* const kMemberNames[MessageScanner::kMemberCount] = {
    "classname", "occurtime", "occurms",     "devicekey",   "appsysid",
    "chardesc",  "userattr[0]", "userattr[1]", "groupname",
};

// Index of the member named [name, name + size), or -1 for one not kept.
int memberIndex(const char* name, std::size_t size) {
  int first = 0, last = 0;  // candidates [first, last) share the length
  switch (size) {
    case 7: first = MessageScanner::kOccurms; last = first + 1; break;
    case 8: first = MessageScanner::kAppsysid; last = first + 2; break;
    case 9:
      for (int m : {MessageScanner::kClassname, MessageScanner::kOccurtime,
                    MessageScanner::kDevicekey, MessageScanner::kGroupname}) {
        if (std::memcmp(name, kMemberNames[m], 9) == 0) return m;
      }
      return -1;
    case 11: first = MessageScanner::kUserName; last = first + 2; break;
    default: return -1;
  }
  for (int m = first; m < last; ++m) {
    if (std::memcmp(name, kMemberNames[m], size) == 0) return m;
  }
  return -1;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

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

// Unescapes the interior [p, end) of a string literal, appending to *out when out is
// not null; false on a bad escape.
bool unescape(const char* p, const char* end, std::string* out) {
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
bool numberText(const char* p, const char* end, std::string* out) {
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

}  // namespace

const char* MessageScanner::memberName(Member m) { return kMemberNames[m]; }

MessageScanner::Outcome MessageScanner::read(const std::string& text) {
  return read(text, nullptr);
}

MessageScanner::Outcome MessageScanner::read(const std::string& text, RecordSink* sink) {
  sink_ = sink;
  count_ = 0;
  if (hasSlashOutsideStrings(text)) return Outcome::kRefused;
  p_ = text.data();
  end_ = p_ + text.size();
  skipSpaces();
  bool ok = false;
  Outcome outcome = Outcome::kRefused;
  if (p_ != end_ && *p_ == '[') {
    ++p_;
    ok = readArray(1, true);
    outcome = Outcome::kArray;
  } else if (p_ != end_ && *p_ == '{') {
    ++p_;
    ok = readObject(1, nullptr);
    outcome = Outcome::kNotArray;
  }
  // Scalar roots are refused whether or not they read.
  if (!ok) {
    count_ = 0;
    return Outcome::kRefused;
  }
  return outcome;
}

void MessageScanner::skipSpaces() {
  while (p_ != end_ && isSpace(*p_)) ++p_;
}

void MessageScanner::deliver() {
  if (sink_ != nullptr) {
    sink_->onRecord(current_);
    return;
  }
  if (count_ == records_.size()) records_.emplace_back();
  Record& kept = records_[count_++];
  kept.isObject = current_.isObject;
  for (int m = 0; m < kMemberCount; ++m) kept.text[m] = current_.text[m];
}

bool MessageScanner::readValue(int depth, std::string* slot, bool isRecord) {
  if (depth > kMaxDepth) return false;
  skipSpaces();
  if (p_ == end_) return false;
  const char* const start = p_;
  const char c = *p_++;
  if (isRecord) {
    // A root element: only its record is kept, and only until it is delivered.
    current_.isObject = c == '{';
    if (c == '{') {
      for (std::string& t : current_.text) t.clear();
      if (!readObject(depth, &current_)) return false;
      deliver();
      return true;
    }
    for (std::string& t : current_.text) t.clear();
    --p_;
    if (!readValue(depth, nullptr, false)) return false;
    deliver();
    return true;
  }
  switch (c) {
    case '{':
      if (slot != nullptr) slot->clear();
      return readObject(depth, nullptr);
    case '[':
      if (slot != nullptr) slot->clear();
      return readArray(depth, false);
    case '"':
      return readString(slot);
    case '-':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
      return readNumber(start, slot);
    case 't': return readLiteral("rue", 3, slot);
    case 'f': return readLiteral("alse", 4, slot);
    case 'n': return readLiteral("ull", 3, slot);
    default: return false;
  }
}

bool MessageScanner::readArray(int depth, bool isRoot) {
  skipSpaces();
  if (p_ != end_ && *p_ == ']') {
    ++p_;
    return true;
  }
  for (;;) {
    if (!readValue(depth + 1, nullptr, isRoot)) return false;
    skipSpaces();
    if (p_ == end_) return false;
    const char c = *p_++;
    if (c == ']') return true;
    if (c != ',') return false;
  }
}

bool MessageScanner::readObject(int depth, Record* record) {
  // The library lets "}" end the object where a name is due only while the last
  // name read is empty: at the start, and after a member named "".
  bool lastNameEmpty = true;
  for (;;) {
    skipSpaces();
    if (p_ == end_) return false;
    const char c = *p_++;
    if (c == '}' && lastNameEmpty) return true;
    if (c != '"') return false;

    const char* const nameBegin = p_;
    const char* nameEnd = nullptr;
    bool escaped = false;
    if (!findStringEnd(&nameEnd, &escaped)) return false;
    const char* name = nameBegin;
    std::size_t nameSize = static_cast<std::size_t>(nameEnd - nameBegin);
    if (escaped) {
      name_.clear();
      if (!unescape(nameBegin, nameEnd, &name_)) return false;
      name = name_.data();
      nameSize = name_.size();
    }
    lastNameEmpty = nameSize == 0;

    skipSpaces();
    if (p_ == end_ || *p_++ != ':') return false;
    std::string* slot = nullptr;
    if (record != nullptr) {
      const int m = memberIndex(name, nameSize);
      if (m >= 0) slot = &record->text[m];
    }
    if (!readValue(depth + 1, slot, false)) return false;

    skipSpaces();
    if (p_ == end_) return false;
    const char after = *p_++;
    if (after == '}') return true;
    if (after != ',') return false;
  }
}

bool MessageScanner::findStringEnd(const char** interiorEnd, bool* escaped) {
  // Like the library: a backslash hides the byte after it, the next '"' ends.
  const char* q = p_;
  while (q != end_) {
    const char c = *q++;
    if (c == '\\') {
      *escaped = true;
      if (q != end_) ++q;
    } else if (c == '"') {
      *interiorEnd = q - 1;
      p_ = q;
      return true;
    }
  }
  return false;
}

bool MessageScanner::readString(std::string* out) {
  const char* const begin = p_;
  const char* end = nullptr;
  bool escaped = false;
  if (!findStringEnd(&end, &escaped)) return false;
  if (!escaped) {
    if (out != nullptr) out->assign(begin, end);
    return true;
  }
  if (out != nullptr) out->clear();
  return unescape(begin, end, out);
}

bool MessageScanner::readNumber(const char* start, std::string* out) {
  // The library's number token: digits, then "." and digits, then "e" or "E", an
  // optional sign and digits, each part optional, after the first byte.
  auto digits = [this] {
    while (p_ != end_ && *p_ >= '0' && *p_ <= '9') ++p_;
  };
  digits();
  if (p_ != end_ && *p_ == '.') {
    ++p_;
    digits();
  }
  if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
    ++p_;
    if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
    digits();
  }
  return numberText(start, p_, out);
}

bool MessageScanner::readLiteral(const char* rest, std::size_t size, std::string* slot) {
  if (static_cast<std::size_t>(end_ - p_) < size || std::memcmp(p_, rest, size) != 0) {
    return false;
  }
  p_ += size;
  if (slot != nullptr) slot->clear();
  return true;
}
