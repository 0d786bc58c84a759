// The line-level rules of the INI syntax, shared by IniReader (values) and the
// operator check's scan of key names, so both read a file the same way.
//
//   - lines end at LF (a last line without LF counts) and are cut to a reader's
//     line limit (kIniMaxLine for rdsset.ini and logsynset.ini);
//   - "#" or "//" in the first column makes a comment;
//   - a line holding "=" is a key line: name before the first "=", value after it;
//   - spaces and CRs are trimmed from both ends of names and values.
// Pure functions; thread-safe.
#ifndef TARVEX_CONFIG_INI_SYNTAX_H_
#define TARVEX_CONFIG_INI_SYNTAX_H_

#include <cstddef>
#include <cstdio>
#include <string>

constexpr std::size_t kIniMaxLine = 1023;  // bytes of a line kept, before the LF

// How much of a line and of a value a reader keeps, in bytes (no LF, no NUL).
struct IniLimits {
  std::size_t maxLine;
  std::size_t maxValue;
};

// The limits of rdsset.ini and logsynset.ini, which their readers have always had.
constexpr IniLimits kIniClassicLimits{kIniMaxLine, kIniMaxLine};

// Reads one line (without its LF) into buf (maxLine + 1 bytes), keeping at most
// maxLine bytes and skipping the rest. Returns false at the end of the file when
// nothing was read; *atEof tells whether the line was ended by the end of the file.
// *fullLen, when not null, receives the line's length before the cut.
bool iniReadLine(std::FILE* f, char* buf, std::size_t maxLine, std::size_t* len, bool* atEof,
                 std::size_t* fullLen = nullptr);

bool iniCommentLine(const char* line, std::size_t len);

// Trims spaces and CRs from both ends of [begin, end).
std::string iniTrimBlanks(const char* begin, const char* end);

#endif  // TARVEX_CONFIG_INI_SYNTAX_H_
