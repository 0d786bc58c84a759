#include "config/ini_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_path.h"

namespace {

// Trims spaces and CRs from both ends of [begin, end) and returns the result.
std::string trimBlanks(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\r')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\r')) --end;
  return std::string(begin, end);
}

// Reads one line (without its LF) into buf, keeping at most kIniMaxLine bytes and
// skipping the rest. Returns false at the end of the file when nothing was read;
// *atEof tells whether the line was ended by the end of the file.
bool readLine(std::FILE* f, char* buf, std::size_t* len, bool* atEof) {
  std::size_t n = 0;
  int c;
  bool any = false;
  *atEof = false;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\n') {
      buf[n] = '\0';
      *len = n;
      return true;
    }
    if (n < kIniMaxLine) buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  *len = n;
  *atEof = true;
  return any;
}

}  // namespace

IniReader::IniReader(const char* fileName) : path_(configPath(fileName)) {
  std::memset(value_, 0, sizeof(value_));
}

const char* IniReader::readString(const char* section, const char* key,
                                  const char* defaultText) {
  std::memset(value_, 0, sizeof(value_));
  auto setValue = [this](const char* text, std::size_t n) {
    if (n > kIniValueSize - 1) n = kIniValueSize - 1;
    std::memcpy(value_, text, n);
    value_[n] = '\0';
    return value_;
  };
  const char* def = defaultText != nullptr ? defaultText : "";

  std::FILE* f = path_.empty() ? nullptr : std::fopen(path_.c_str(), "rb");
  if (f == nullptr) {
    std::fputs("have   no   such   file \n", stdout);
    std::fflush(stdout);
    return setValue(def, std::strlen(def));
  }

  const std::string header = std::string("[") + (section != nullptr ? section : "") + "]";
  const std::string wanted = key != nullptr ? key : "";
  bool inSection = false;
  char line[kIniMaxLine + 1];
  std::size_t len = 0;
  bool atEof = false;
  while (readLine(f, line, &len, &atEof)) {
    const bool comment = (len >= 1 && line[0] == '#') || (len >= 2 && line[0] == '/' && line[1] == '/');
    if (!comment) {
      const char* eq = static_cast<const char*>(std::memchr(line, '=', len));
      if (eq == nullptr) {
        if (len >= header.size() && std::memcmp(line, header.data(), header.size()) == 0) {
          inSection = true;
        }
      } else if (inSection) {
        std::string name = trimBlanks(line, eq);
        if (!name.empty() && name == wanted) {
          std::string value = trimBlanks(eq + 1, line + len);
          std::fclose(f);
          return setValue(value.data(), value.size());
        }
      }
    }
    if (atEof) break;
  }
  std::fclose(f);
  return setValue(def, std::strlen(def));
}

uint64_t IniReader::readNumber(const char* section, const char* key, const char* defaultText) {
  return std::strtoull(readString(section, key, defaultText), nullptr, 0);
}
