// The INI reader on arbitrary file contents: the input is written as a cfg file,
// then a fixed set of lookups runs over it. Besides memory errors, it checks that a
// found value is a single trimmed line that fits the result buffer.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cstdlib>

#include "config/ini_reader.h"
#include "fuzz/fuzz_root.h"

namespace {

const char* const kSections[] = {"ConnectionMode", "Sentinel", "", "["};
const char* const kKeys[] = {"Mode", "SentinelIp0", "", "="};
const char kDefault[] = "dflt";

// Trimming works on the line's bytes, so a value with a NUL inside may end in a
// blank as a C text; the end is checked only for files without NUL bytes.
void checkValue(const char* v, bool fileHasNul) {
  if (v == nullptr) abort();
  const size_t n = strnlen(v, kIniValueSize);
  if (n >= kIniValueSize) abort();  // not terminated inside the buffer
  if (memchr(v, '\n', n) != nullptr) abort();
  if (n > 0 && (v[0] == ' ' || v[0] == '\r')) abort();
  if (!fileHasNul && n > 0 && (v[n - 1] == ' ' || v[n - 1] == '\r')) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzroot::writeCfg("fuzz.ini", data, size);
  const bool hasNul = size > 0 && memchr(data, '\0', size) != nullptr;
  IniReader reader("fuzz.ini");
  for (const char* section : kSections) {
    for (const char* key : kKeys) {
      checkValue(reader.readString(section, key, kDefault), hasNul);
    }
    (void)reader.readNumber(section, "Mode", "0x7fffffffffffffff1");
  }
  return 0;
}
