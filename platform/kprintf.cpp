// Placeholder until the run-log writer lands: formats to stderr.
#include "platform/kprintf.h"

#include <cstdarg>
#include <cstdio>

int kprintf(unsigned int, unsigned int, unsigned int, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  return n;
}

std::string runLogPath() { return std::string(); }
