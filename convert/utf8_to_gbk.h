// Utf8ToGbk: converts UTF-8 text to GBK for the run log.
//
// The text is taken up to its first NUL byte. Bytes that are not valid UTF-8 become
// one "?" for each maximal ill-formed sequence (a lead byte with the continuation
// bytes that fit it, or a single stray byte); characters GBK has no code for
// become one "?" each. ASCII passes unchanged. Conversion never fails: when the
// host has no GBK converter at all, every non-ASCII character becomes "?".
//
// The iconv descriptor is opened on first need and closed with the object. One
// object per thread; not thread-safe.
#ifndef TARVEX_CONVERT_UTF8_TO_GBK_H_
#define TARVEX_CONVERT_UTF8_TO_GBK_H_

#include <iconv.h>

#include <memory>
#include <string>

struct IconvDeleter {
  void operator()(void* cd) const;
};
// Owns an iconv descriptor; never holds the (iconv_t)-1 failure value.
using IconvPtr = std::unique_ptr<void, IconvDeleter>;

class Utf8ToGbk {
 public:
  Utf8ToGbk() = default;
  Utf8ToGbk(const Utf8ToGbk&) = delete;
  Utf8ToGbk& operator=(const Utf8ToGbk&) = delete;

  std::string convert(const std::string& utf8);

 private:
  // Appends the GBK form of the well-formed UTF-8 bytes [begin, end) to *out.
  void appendWellFormed(const char* begin, const char* end, std::string* out);

  IconvPtr cd_;          // UTF-8 -> GBK descriptor; null until opened or when unavailable
  bool opened_ = false;  // true once opening cd_ was attempted
};

#endif  // TARVEX_CONVERT_UTF8_TO_GBK_H_
