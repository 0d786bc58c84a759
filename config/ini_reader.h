// Reads values from an INI-style file in the cfg directory.
//
// The constructor reads the file once (IniFile, whose header states the syntax and
// the lookup rule: a section once opened stays open to the end of the file) and
// every lookup is answered from that read; an edit is seen by the next reader. A
// value is cut to the reader's value limit, and so is a default. The limits default
// to kIniClassicLimits (1023 and 1023), those of rdsset.ini and logsynset.ini.
//
// A lookup on a file that could not be opened prints "have   no   such   file \n"
// on stdout, once per lookup, and gives the default; a missing key gives the
// default silently.
//
// readString returns a pointer into the reader, valid until the next lookup on the
// same reader. Not thread-safe; make one reader per load.
#ifndef TARVEX_CONFIG_INI_READER_H_
#define TARVEX_CONFIG_INI_READER_H_

#include <cstdint>
#include <string>
#include <unordered_map>

#include "config/ini_file.h"

// Result buffer of a reader with kIniClassicLimits, with the NUL.
constexpr std::size_t kIniValueSize = kIniClassicLimits.maxValue + 1;

class IniReader {
 public:
  // Reads configPath(fileName) now.
  explicit IniReader(const char* fileName, IniLimits limits = kIniClassicLimits);

  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  const char* readString(const char* section, const char* key, const char* defaultText);

  // readString, read as a number with automatic base (0x hex, leading 0 octal,
  // else decimal), like strtoull(text, nullptr, 0).
  uint64_t readNumber(const char* section, const char* key, const char* defaultText);

  const std::string& path() const { return path_; }
  const IniLimits& limits() const { return file_.limits(); }
  // The lines as read, for a report of what is written where.
  const IniFile& file() const { return file_; }

 private:
  std::string path_;  // full path of the file; "" when no root is known
  IniFile file_;
  std::unordered_map<std::string, std::size_t> opened_;  // section -> file_.opening()
  std::string default_;  // the latest default given, cut to the value limit
};

// The low 32 bits of a readNumber result, as the signed integer callers keep.
inline int32_t iniInt32(uint64_t number) {
  return static_cast<int32_t>(static_cast<uint32_t>(number));
}

#endif  // TARVEX_CONFIG_INI_READER_H_
