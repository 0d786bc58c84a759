// Texts of logsynset.ini (GBK) as the UTF-8 the operator check prints. ASCII comes
// back unchanged; any other text is converted (GbkCodec::toUtf8, each byte sequence
// GBK does not define shown as "?") and marked " (GBK)". Not thread-safe; one object
// per use.
#ifndef TARVEX_OPERATOR_GBK_DISPLAY_H_
#define TARVEX_OPERATOR_GBK_DISPLAY_H_

#include <string>

#include "convert/gbk_codec.h"

class GbkDisplay {
 public:
  std::string show(const std::string& gbk);
  // The same in double quotes, the mark after them: "北京" (GBK).
  std::string quoted(const std::string& gbk);

 private:
  GbkCodec codec_;
};

#endif  // TARVEX_OPERATOR_GBK_DISPLAY_H_
