// decimalInt32: the service's one reader of decimal numbers in texts it did not
// write (the command line, ports, the heartbeat time, record fields).
//
// Reads like atoi: optional leading white space (blank, \t \n \v \f \r), an
// optional sign, then decimal digits up to the first other byte (a NUL included).
// No digits give 0. Overflow rule: values beyond the signed 32-bit range clamp to
// INT32_MAX or INT32_MIN (atoi itself is undefined there). Pure; thread-safe.
#ifndef TARVEX_PLATFORM_DECIMAL_H_
#define TARVEX_PLATFORM_DECIMAL_H_

#include <cstdint>
#include <string_view>

int32_t decimalInt32(std::string_view text);

#endif  // TARVEX_PLATFORM_DECIMAL_H_
