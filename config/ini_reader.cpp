#include "config/ini_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/config_path.h"

IniReader::IniReader(const char* fileName, IniLimits limits)
    : path_(configPath(fileName)), file_(path_, limits) {}

const char* IniReader::readString(const char* section, const char* key,
                                  const char* defaultText) {
  if (!file_.opened()) {
    std::fputs("have   no   such   file \n", stdout);
    std::fflush(stdout);
  } else if (key != nullptr) {
    const std::string name = section != nullptr ? section : "";
    auto opened = opened_.find(name);
    if (opened == opened_.end()) opened = opened_.emplace(name, file_.opening(name)).first;
    const IniLine* line =
        opened->second == IniFile::kNone ? nullptr : file_.keyAfter(opened->second, key);
    if (line != nullptr) return line->value.c_str();
  }
  const char* def = defaultText != nullptr ? defaultText : "";
  default_.assign(def, std::min(std::strlen(def), file_.limits().maxValue));
  return default_.c_str();
}

uint64_t IniReader::readNumber(const char* section, const char* key, const char* defaultText) {
  return std::strtoull(readString(section, key, defaultText), nullptr, 0);
}
