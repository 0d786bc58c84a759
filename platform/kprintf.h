// The run-log writer: appends formatted lines to <root>/log/tarvex.log.
//
// kprintf(level, module, flag, fmt, ...) formats like printf and writes one line:
// a local timestamp with milliseconds ("YYYY-MM-DD HH:MM:SS.mmm"), a blank, the
// formatted text and a line feed, in a single write(2) on a file opened with
// O_APPEND, so a line is never split or lost to buffering. The root is found as for
// configuration files (ZQROOT, else VUVORER); log/ is created when missing. With no
// root, or when the file cannot be opened, the line goes to stderr instead.
// Above kLogRotateBytes the file is rotated to tarvex.log.1 ... .5 (oldest dropped).
// The formatted text is never cut and its bytes are never interpreted. The three
// leading numbers select nothing here. Thread-safe. Returns the number of bytes of
// the line, or -1 when nothing could be written.
#ifndef TARVEX_PLATFORM_KPRINTF_H_
#define TARVEX_PLATFORM_KPRINTF_H_

#include <cstddef>
#include <string>

constexpr std::size_t kLogRotateBytes = 20u * 1024u * 1024u;  // rotate above 20 MB
constexpr int kLogRotateKeep = 5;                             // tarvex.log.1 .. .5

int kprintf(unsigned int level, unsigned int module, unsigned int flag, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Full path of the current run-log file, or "" when there is no installation root.
std::string runLogPath();

#endif  // TARVEX_PLATFORM_KPRINTF_H_
