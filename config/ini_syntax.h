// The line-level rules of the INI syntax, shared by IniReader (values) and the
// operator check's scan of key names, so both read a file the same way.
//
//   - lines end at LF (a last line without LF counts) and are cut to kIniMaxLine bytes;
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

// Reads one line (without its LF) into buf (kIniMaxLine + 1 bytes), keeping at most
// kIniMaxLine bytes and skipping the rest. Returns false at the end of the file when
// nothing was read; *atEof tells whether the line was ended by the end of the file.
bool iniReadLine(std::FILE* f, char* buf, std::size_t* len, bool* atEof);

bool iniCommentLine(const char* line, std::size_t len);

// Trims spaces and CRs from both ends of [begin, end).
std::string iniTrimBlanks(const char* begin, const char* end);

#endif  // TARVEX_CONFIG_INI_SYNTAX_H_
