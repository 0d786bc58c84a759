// The service's one reader of decimal numbers in texts it did not write (the
// command line, ports, the heartbeat time, record fields, the environment).
//
// decimalInt32 reads like atoi: optional leading white space (blank, \t \n \v \f
// \r), an optional sign, then decimal digits up to the first other byte (a NUL
// included). No digits give 0. Overflow rule: values beyond the signed 32-bit range
// clamp to INT32_MAX or INT32_MIN (atoi itself is undefined there).
//
// decimalInRange is the strict reader of a text that must be a number and nothing
// else (a count on the command line, a port): true, with the value in *value, when
// `text` is one or more ASCII digits (no sign, no blanks, leading zeros allowed) and
// the value lies in [min, max]; otherwise false with *value untouched.
//
// Pure; thread-safe.
#ifndef TARVEX_PLATFORM_DECIMAL_H_
#define TARVEX_PLATFORM_DECIMAL_H_

#include <cstdint>
#include <string_view>

int32_t decimalInt32(std::string_view text);
bool decimalInRange(std::string_view text, int32_t min, int32_t max, int32_t* value);

#endif  // TARVEX_PLATFORM_DECIMAL_H_
