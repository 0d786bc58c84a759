// GbkCodec: the service's one converter between UTF-8 and GBK, both directions on
// iconv.
//
// toGbk (the run-log copy of descriptions) takes the text up to its first NUL byte.
// Bytes that are not valid UTF-8 become one "?" for each maximal ill-formed sequence
// (a lead byte with the continuation bytes that fit it, or a single stray byte);
// characters GBK has no code for become one "?" each. ASCII passes unchanged.
//
// toUtf8 (texts of logsynset.ini shown to a person) takes the whole text. ASCII
// passes unchanged; each byte that starts no GBK character, or a lead byte cut off
// at the end, becomes one "?" and the conversion goes on after it.
//
// Neither direction fails: when the host has no converter for it, ASCII is kept and
// every other character becomes "?" (toGbk: one per UTF-8 character; toUtf8: one per
// non-ASCII byte).
//
// Each direction's iconv descriptor is opened on first need and closed with the
// object. One object per thread; not thread-safe.
#ifndef TARVEX_CONVERT_GBK_CODEC_H_
#define TARVEX_CONVERT_GBK_CODEC_H_

#include <iconv.h>

#include <memory>
#include <string>

struct IconvDeleter {
  void operator()(void* cd) const;
};
// Owns an iconv descriptor; never holds the (iconv_t)-1 failure value.
using IconvPtr = std::unique_ptr<void, IconvDeleter>;

class GbkCodec {
 public:
  GbkCodec() = default;
  GbkCodec(const GbkCodec&) = delete;
  GbkCodec& operator=(const GbkCodec&) = delete;

  std::string toGbk(const std::string& utf8);
  std::string toUtf8(const std::string& gbk);

 private:
  // Appends the GBK form of the well-formed UTF-8 bytes [begin, end) to *out.
  void appendWellFormed(const char* begin, const char* end, std::string* out);

  IconvPtr toGbk_;   // UTF-8 -> GBK; null until opened or when unavailable
  IconvPtr toUtf8_;  // GBK -> UTF-8; the same
  bool toGbkOpened_ = false;   // true once opening toGbk_ was attempted
  bool toUtf8Opened_ = false;  // true once opening toUtf8_ was attempted
};

#endif  // TARVEX_CONVERT_GBK_CODEC_H_
