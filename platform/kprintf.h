// The run-log writer: appends formatted lines to <root>/log/tarvex.log.
//
// kprintf(level, module, flag, fmt, ...) formats like printf and writes one line:
// a local timestamp with milliseconds ("YYYY-MM-DD HH:MM:SS.mmm"), a blank, the
// formatted text and a line feed, in a single write(2) on a file opened with
// O_APPEND, so a line is never split or lost to buffering. The root is handed in
// by setRunLogRoot; log/ is created when missing. With no root (or an empty one),
// or when the file cannot be opened, the line goes to stderr instead.
// The file is opened once and kept open; it is reopened only after a rotation or a
// failed write (a failed write is tried once more on the reopened file), so a line
// costs one write(2). Once the file holds more than kLogRotateBytes (its size at
// open plus what this process wrote) it is rotated to tarvex.log.1 ... .5, oldest
// dropped.
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

// Sets the installation root whose log/tarvex.log takes the lines from now on; ""
// sends them to stderr, and no directory is ever made for it. Closes the file held
// for the previous root. Until the first call the lines go to stderr.
void setRunLogRoot(const std::string& root);

// Full path of the current run-log file, or "" when no root is set.
std::string runLogPath();

#endif  // TARVEX_PLATFORM_KPRINTF_H_
