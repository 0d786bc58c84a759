#include "operator/gbk_display.h"

namespace {

constexpr const char* kGbkMark = " (GBK)";

bool isAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string GbkDisplay::quoted(const std::string& gbk) {
  if (isAscii(gbk)) return "\"" + gbk + "\"";
  return "\"" + codec_.toUtf8(gbk) + "\"" + kGbkMark;
}

std::string GbkDisplay::show(const std::string& gbk) {
  if (isAscii(gbk)) return gbk;
  return codec_.toUtf8(gbk) + kGbkMark;
}
