#include "config/ini_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_path.h"
#include "config/ini_syntax.h"

IniReader::IniReader(const char* fileName, IniLimits limits)
    : path_(configPath(fileName)),
      limits_(limits),
      line_(limits.maxLine + 1, '\0'),
      value_(limits.maxValue + 1, '\0') {}

const char* IniReader::readString(const char* section, const char* key,
                                  const char* defaultText) {
  std::fill(value_.begin(), value_.end(), '\0');
  auto setValue = [this](const char* text, std::size_t n) {
    if (n > limits_.maxValue) n = limits_.maxValue;
    std::memcpy(value_.data(), text, n);
    value_[n] = '\0';
    return value_.data();
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
  char* line = line_.data();
  std::size_t len = 0;
  bool atEof = false;
  while (iniReadLine(f, line, limits_.maxLine, &len, &atEof)) {
    if (!iniCommentLine(line, len)) {
      const char* eq = static_cast<const char*>(std::memchr(line, '=', len));
      if (eq == nullptr) {
        if (len >= header.size() && std::memcmp(line, header.data(), header.size()) == 0) {
          inSection = true;
        }
      } else if (inSection) {
        std::string name = iniTrimBlanks(line, eq);
        if (!name.empty() && name == wanted) {
          std::string value = iniTrimBlanks(eq + 1, line + len);
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
