#include "convert/message_scanner.h"

#include <cstdint>
#include <cstring>
#include <sstream>

#include "convert/comment_guard.h"
#include "convert/json_tokens.h"

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
      if (!jsonUnescape(nameBegin, nameEnd, &name_)) return false;
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
  return jsonUnescape(begin, end, out);
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
  return jsonNumberText(start, p_, out);
}

bool MessageScanner::readLiteral(const char* rest, std::size_t size, std::string* slot) {
  if (static_cast<std::size_t>(end_ - p_) < size || std::memcmp(p_, rest, size) != 0) {
    return false;
  }
  p_ += size;
  if (slot != nullptr) slot->clear();
  return true;
}
