// Reads single values from an INI-style file in the cfg directory.
//
// Each lookup opens the file, scans it from the top and closes it again, so edits
// are seen by the next lookup; nothing is cached. Syntax: lines end at LF (a last
// line without LF counts); "#" or "//" in the first column makes a comment; a line
// holding "=" is a key line (name before the first "=", value after it); any other
// line opens the wanted section when it begins with "[" + section + "]". Once the
// section has been opened it stays open to the end of the file. Spaces and CRs are
// trimmed from both ends of names and values; tabs and all other bytes are kept.
// A key line with nothing after "=" gives the empty text. Lines longer than the
// reader's line limit are cut to that many bytes (the rest of such a line is
// skipped), and values, defaults included, to its value limit. The limits default to
// kIniClassicLimits (1023 and 1023), those of rdsset.ini and logsynset.ini.
//
// A missing file prints "have   no   such   file \n" on stdout and gives the
// default; a missing key gives the default silently.
//
// readString returns a pointer to the reader's own buffer, valid until the next
// lookup on the same reader. Not thread-safe; make one reader per load.
#ifndef TARVEX_CONFIG_INI_READER_H_
#define TARVEX_CONFIG_INI_READER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "config/ini_syntax.h"

// Result buffer of a reader with kIniClassicLimits, with the NUL.
constexpr std::size_t kIniValueSize = kIniClassicLimits.maxValue + 1;

class IniReader {
 public:
  // Sets the path to configPath(fileName); does not open the file.
  explicit IniReader(const char* fileName, IniLimits limits = kIniClassicLimits);

  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  const char* readString(const char* section, const char* key, const char* defaultText);

  // readString, read as a number with automatic base (0x hex, leading 0 octal,
  // else decimal), like strtoull(text, nullptr, 0).
  uint64_t readNumber(const char* section, const char* key, const char* defaultText);

  const std::string& path() const { return path_; }
  const IniLimits& limits() const { return limits_; }

 private:
  std::string path_;         // full path of the file; "" when no root is known
  IniLimits limits_;
  std::vector<char> line_;   // the line being read, limits_.maxLine + 1 bytes
  std::vector<char> value_;  // result of the latest lookup, limits_.maxValue + 1 bytes
};

// The low 32 bits of a readNumber result, as the signed integer callers keep.
inline int32_t iniInt32(uint64_t number) {
  return static_cast<int32_t>(static_cast<uint32_t>(number));
}

#endif  // TARVEX_CONFIG_INI_READER_H_
