#include "operator/gbk_display.h"

#include <cerrno>

std::string GbkDisplay::quoted(const std::string& gbk) {
  std::string text = show(gbk);
  const std::string mark = " (GBK)";
  const bool marked = text.size() >= mark.size() &&
                      text.compare(text.size() - mark.size(), mark.size(), mark) == 0;
  if (marked) text.resize(text.size() - mark.size());
  return "\"" + text + "\"" + (marked ? mark : "");
}

std::string GbkDisplay::show(const std::string& gbk) {
  bool ascii = true;
  for (const char c : gbk) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return gbk;
  if (!opened_) {
    opened_ = true;
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd != reinterpret_cast<iconv_t>(-1)) cd_.reset(cd);
  }
  std::string out;
  if (!cd_) {
    for (const char c : gbk) out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return out + " (GBK)";
  }
  iconv(static_cast<iconv_t>(cd_.get()), nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(gbk.data());
  std::size_t inLeft = gbk.size();
  char buf[512];
  while (inLeft > 0) {
    char* o = buf;
    std::size_t oLeft = sizeof(buf);
    const std::size_t r = iconv(static_cast<iconv_t>(cd_.get()), &in, &inLeft, &o, &oLeft);
    out.append(buf, static_cast<std::size_t>(o - buf));
    if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    out.push_back('?');  // a byte that starts no GBK character: step over it
    ++in;
    --inLeft;
  }
  return out + " (GBK)";
}
