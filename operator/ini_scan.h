// The key lines of an INI file as written, for the operator check: which keys
// stand in which section, and how much of each value a reader with given limits
// keeps. Values are never taken from here (IniReader reads them); the scan tells
// names, places and sizes, with IniReader's line rules (ini_syntax.h), but looks at
// lines whole (up to kIniScanMaxLine bytes) to see what a reader cuts.
//
// A line without "=" that begins with "[" names the section of the key lines after
// it (the text up to "]"). Returns an empty list for a file that cannot be opened.
#ifndef TARVEX_STATUS_INI_SCAN_H_
#define TARVEX_STATUS_INI_SCAN_H_

#include <cstddef>
#include <string>
#include <vector>

#include "config/ini_syntax.h"

constexpr std::size_t kIniScanMaxLine = 65536;  // bytes of a line the scan looks at

struct IniKeyLine {
  int line;                  // 1-based line number
  std::string section;       // section named by the latest header line; "" before any
  std::string name;          // key name, trimmed
  std::size_t lineBytes;     // the whole line, without its LF
  std::size_t valueBytes;    // the value as written, trimmed
  std::size_t keptBytes;     // what a reader with the scan's limits keeps of the value
};

std::vector<IniKeyLine> scanIniKeys(const std::string& path,
                                    IniLimits limits = kIniClassicLimits);

// A key the service reads: an exact name, or a prefix followed by an index written
// as "%d" (then `countKey` names the key of the count, "" when none).
struct KnownIniKey {
  const char* section;
  const char* name;
  bool indexed;
  const char* countKey;
};

// The keys of rdsset.ini, logsynset.ini and tarvex.ini, by file name; null for
// another name.
const std::vector<KnownIniKey>* knownIniKeys(const std::string& fileName);

// Whether `name` is one of `keys`, and for an indexed key its index (else -1).
bool matchKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name,
                   const KnownIniKey** match, long* index);

// A known key whose name equals `name` ignoring case (indexed keys keep the index),
// as the suggestion for a misspelt key; "" when none.
std::string suggestKnownKey(const std::vector<KnownIniKey>& keys, const std::string& name);

#endif  // TARVEX_STATUS_INI_SCAN_H_
