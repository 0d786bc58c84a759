#include "platform/decimal.h"

#include <limits>

int32_t decimalInt32(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Digits beyond the 32-bit range only need to be consumed, not counted.
  const int64_t limit = -static_cast<int64_t>(std::numeric_limits<int32_t>::min());
  int64_t value = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= limit) value = value * 10 + (text[i] - '0');
  }
  if (negative) {
    return value >= limit ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(-value);
  }
  return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(value);
}

bool decimalInRange(std::string_view text, int32_t min, int32_t max, int32_t* value) {
  if (text.empty()) return false;
  int64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    if (n <= max) n = n * 10 + (c - '0');  // past max it only has to stay past it
  }
  if (n < min || n > max) return false;
  *value = static_cast<int32_t>(n);
  return true;
}
