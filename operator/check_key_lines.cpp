#include "operator/check_key_lines.h"

#include <map>
#include <set>
#include <vector>

#include "config/ini_keys.h"
#include "config/ini_reader.h"
#include "config/tarvex_options.h"

namespace {

// How much of a line and a value the service's reader of `fileName` keeps.
IniLimits limitsOf(const std::string& fileName) {
  return fileName == kOptionsFile ? kOptionsIniLimits : kIniClassicLimits;
}

void checkCut(CheckReport& report, const std::string& where, const IniLine& line,
              const IniLimits& limits) {
  const std::size_t kept = line.found ? line.value.size() : 0;
  if (kept >= line.valueBytes) return;
  if (line.lineBytes > limits.maxLine) {
    report.error(where + " is cut: its line is " + std::to_string(line.lineBytes) +
                 " bytes and only the first " + std::to_string(limits.maxLine) +
                 " bytes of a line are read. Shorten it");
  } else {
    report.error(where + " is cut: its value is " + std::to_string(line.valueBytes) +
                 " bytes and only the first " + std::to_string(limits.maxValue) +
                 " are read. Shorten it");
  }
}

}  // namespace

void checkKeyLines(CheckReport& report, const std::string& fileName) {
  const std::vector<KnownIniKey>* known = knownIniKeys(fileName);
  if (known == nullptr) return;
  std::set<std::string> sections;
  for (const KnownIniKey& k : *known) sections.insert(k.section);
  IniReader reader(fileName.c_str(), limitsOf(fileName));
  std::map<std::string, long> counts;  // count key -> value the service reads
  for (const IniLine& line : reader.file().lines()) {
    if (line.name.empty() || sections.count(line.section) == 0) continue;
    const KnownIniKey* match = nullptr;
    long index = -1;
    const std::string where = fileName + ":" + std::to_string(line.number) + ": [" +
                              line.section + "] " + line.name;
    if (!matchKnownKey(*known, line.name, &match, &index)) {
      const std::string suggestion = suggestKnownKey(*known, line.name);
      report.warning(where + " is never read" +
                     (suggestion.empty() ? "; check its spelling"
                                         : "; did you mean " + suggestion + "?"));
      continue;
    }
    checkCut(report, where, line, reader.limits());
    if (index < 0 || match->countKey[0] == '\0') continue;
    if (counts.count(match->countKey) == 0) {
      counts[match->countKey] = iniInt32(reader.readNumber(match->section, match->countKey, "0"));
    }
    const long count = counts[match->countKey];
    if (index >= count) {
      report.warning(where + " is never read: " + match->countKey + " is " +
                     std::to_string(count) + ". Raise the count or remove the key");
    }
  }
}
