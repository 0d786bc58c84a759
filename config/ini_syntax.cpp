#include "config/ini_syntax.h"

bool iniReadLine(std::FILE* f, char* buf, std::size_t maxLine, std::size_t* len, bool* atEof,
                 std::size_t* fullLen) {
  std::size_t n = 0;
  std::size_t total = 0;
  int c;
  bool any = false;
  *atEof = false;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    ++total;
    if (n < maxLine) buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  *len = n;
  if (fullLen != nullptr) *fullLen = total;
  if (c != '\n') *atEof = true;
  return any;
}

bool iniCommentLine(const char* line, std::size_t len) {
  return (len >= 1 && line[0] == '#') || (len >= 2 && line[0] == '/' && line[1] == '/');
}

std::string iniTrimBlanks(const char* begin, const char* end) {
  while (begin < end && (*begin == ' ' || *begin == '\r')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\r')) --end;
  return std::string(begin, end);
}
