#include "config/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads one line without its LF, keeping at most `keep` bytes in *kept and
// skipping the rest; *lineBytes receives its whole length. Returns false at the end
// of the file when nothing was read; *atEof tells whether the file ended the line.
bool readLine(std::FILE* f, std::size_t keep, std::string* kept, std::size_t* lineBytes,
              bool* atEof) {
  kept->clear();
  std::size_t total = 0;
  bool any = false;
  int c;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    ++total;
    if (kept->size() < keep) kept->push_back(static_cast<char>(c));
  }
  *lineBytes = total;
  *atEof = c != '\n';
  return any;
}

bool commentLine(const std::string& line) {
  return (!line.empty() && line[0] == '#') || line.compare(0, 2, "//") == 0;
}

// [begin, end) of `text` with spaces and CRs trimmed from both ends.
std::string trimmed(const std::string& text, std::size_t begin, std::size_t end) {
  while (begin < end && (text[begin] == ' ' || text[begin] == '\r')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

IniFile::IniFile(const std::string& path, IniLimits limits) : limits_(limits) {
  FilePtr f(path.empty() ? nullptr : std::fopen(path.c_str(), "rb"));
  if (f == nullptr) return;
  opened_ = true;
  const std::size_t keep = std::max(kIniParseMaxLine, limits_.maxLine);
  std::string line;
  std::size_t lineBytes = 0;
  bool atEof = false;
  int number = 0;
  std::string section;  // the latest header's name
  while (readLine(f.get(), keep, &line, &lineBytes, &atEof)) {
    add(line, lineBytes, ++number, &section);
    if (atEof) break;
  }
}

void IniFile::add(const std::string& text, std::size_t lineBytes, int number,
                  std::string* section) {
  if (commentLine(text)) return;
  const std::size_t len = text.size();
  const std::size_t cutLen = std::min(len, limits_.maxLine);
  const std::size_t eq = text.find('=');
  IniLine line;
  line.number = number;
  line.lineBytes = lineBytes;
  if (eq == std::string::npos) {
    if (len == 0 || text[0] != '[') return;
    const std::size_t close = text.find(']');
    *section = text.substr(1, (close == std::string::npos ? len : close) - 1);
    line.header = true;
    line.section = *section;
    line.headerText = text.substr(0, cutLen);
  } else {
    line.name = trimmed(text, 0, eq);
    if (line.name.empty()) return;
    line.section = *section;
    // Bytes beyond those looked at all count as part of the value.
    line.valueBytes = trimmed(text, eq + 1, len).size() + (lineBytes - len);
    if (eq < cutLen) {
      line.found = true;
      line.value = trimmed(text, eq + 1, cutLen);
      if (line.value.size() > limits_.maxValue) line.value.resize(limits_.maxValue);
      keys_[line.name].push_back(lines_.size());
    } else if (text[0] == '[') {
      line.headerText = text.substr(0, cutLen);  // the cut took its "=" away
    }
  }
  if (!line.headerText.empty()) headers_.push_back(lines_.size());
  lines_.push_back(std::move(line));
}

std::size_t IniFile::opening(const std::string& section) const {
  const std::string header = "[" + section + "]";
  for (const std::size_t i : headers_) {
    if (lines_[i].headerText.compare(0, header.size(), header) == 0) return i;
  }
  return kNone;
}

const IniLine* IniFile::keyAfter(std::size_t from, const std::string& key) const {
  const auto named = keys_.find(key);
  if (named == keys_.end()) return nullptr;
  const auto after = std::upper_bound(named->second.begin(), named->second.end(), from);
  return after == named->second.end() ? nullptr : &lines_[*after];
}

const IniLine* IniFile::find(const std::string& section, const std::string& key) const {
  const std::size_t from = opening(section);
  return from == kNone ? nullptr : keyAfter(from, key);
}
