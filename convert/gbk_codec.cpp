#include "convert/gbk_codec.h"

#include <cerrno>
#include <cstring>

namespace {

// Length of the well-formed UTF-8 sequence at p (p < end, *p >= 0x80), or, as a
// negative number, the length of the maximal ill-formed prefix to replace.
int sequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = p[0];
  int need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;  // no UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  int got = 0;
  while (got < need && p + 1 + got < end) {
    const unsigned char c = p[1 + got];
    const unsigned char min = got == 0 ? lo : 0x80;
    const unsigned char max = got == 0 ? hi : 0xBF;
    if (c < min || c > max) break;
    ++got;
  }
  return got == need ? need + 1 : -(got + 1);
}

// The descriptor in *cd, opened from `from` to `to` on the first call (*opened
// records the try); null when the host has no such converter.
iconv_t descriptor(IconvPtr* cd, bool* opened, const char* to, const char* from) {
  if (!*opened) {
    *opened = true;
    iconv_t made = iconv_open(to, from);
    if (made != reinterpret_cast<iconv_t>(-1)) cd->reset(made);
  }
  return static_cast<iconv_t>(cd->get());
}

// Converts [begin, end) through `cd`, appending to *out. A sequence the converter
// refuses becomes one "?", and skip(its first byte) bytes (at most those left) are
// stepped over.
template <typename Skip>
void convertThrough(iconv_t cd, const char* begin, const char* end, std::string* out, Skip skip) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(begin);
  std::size_t inLeft = static_cast<std::size_t>(end - begin);
  char buf[512];
  while (inLeft > 0) {
    char* o = buf;
    std::size_t oLeft = sizeof(buf);
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out->append(buf, static_cast<std::size_t>(o - buf));
    if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    out->push_back('?');
    std::size_t n = skip(static_cast<unsigned char>(*in));
    if (n > inLeft) n = inLeft;
    in += n;
    inLeft -= n;
  }
}

}  // namespace

void IconvDeleter::operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }

std::string GbkCodec::toGbk(const std::string& utf8) {
  const char* begin = utf8.data();
  const std::size_t size = std::strlen(begin);  // up to the first NUL
  const char* end = begin + size;

  std::size_t ascii = 0;
  while (ascii < size && static_cast<unsigned char>(begin[ascii]) < 0x80) ++ascii;
  if (ascii == size) return std::string(begin, size);

  std::string out;
  out.reserve(size);
  const char* run = begin;  // start of the current well-formed run
  const char* p = begin + ascii;
  while (p < end) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (*u < 0x80) {
      ++p;
      continue;
    }
    const int len = sequenceLength(u, reinterpret_cast<const unsigned char*>(end));
    if (len > 0) {
      p += len;
      continue;
    }
    appendWellFormed(run, p, &out);
    out.push_back('?');
    p += -len;
    run = p;
  }
  appendWellFormed(run, end, &out);
  return out;
}

void GbkCodec::appendWellFormed(const char* begin, const char* end, std::string* out) {
  if (begin == end) return;
  const iconv_t cd = descriptor(&toGbk_, &toGbkOpened_, "GBK", "UTF-8");
  if (cd == nullptr) {
    // No converter: keep ASCII, one "?" per character.
    for (const char* p = begin; p < end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c < 0x80) {
        out->push_back(static_cast<char>(c));
      } else if (c >= 0xC0) {
        out->push_back('?');
      }
    }
    return;
  }
  // A character GBK lacks (the input is well formed): step over the whole of it.
  convertThrough(cd, begin, end, out, [](unsigned char lead) -> std::size_t {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  });
}

std::string GbkCodec::toUtf8(const std::string& gbk) {
  bool ascii = true;
  for (const char c : gbk) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return gbk;
  std::string out;
  const iconv_t cd = descriptor(&toUtf8_, &toUtf8Opened_, "UTF-8", "GBK");
  if (cd == nullptr) {
    for (const char c : gbk) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out;
  }
  // A byte that starts no GBK character: step over it alone.
  convertThrough(cd, gbk.data(), gbk.data() + gbk.size(), &out,
                 [](unsigned char) -> std::size_t { return 1; });
  return out;
}
