// Texts of logsynset.ini (GBK) as the UTF-8 the operator check prints. ASCII comes
// back unchanged; any other text is converted and marked " (GBK)", each byte
// sequence GBK does not define shown as "?". Not thread-safe; one object per use.
#ifndef TARVEX_STATUS_GBK_DISPLAY_H_
#define TARVEX_STATUS_GBK_DISPLAY_H_

#include <string>

#include "convert/utf8_to_gbk.h"

class GbkDisplay {
 public:
  std::string show(const std::string& gbk);
  // The same in double quotes, the mark after them: "北京" (GBK).
  std::string quoted(const std::string& gbk);

 private:
  IconvPtr cd_;          // GBK -> UTF-8; null until opened or when unavailable
  bool opened_ = false;
};

#endif  // TARVEX_STATUS_GBK_DISPLAY_H_
