// The two JSON tokens whose value MessageScanner computes itself, the way JsonCpp's
// strict Reader does, so that the same texts give the same values. Pure; thread-safe.
#ifndef TARVEX_CONVERT_JSON_TOKENS_H_
#define TARVEX_CONVERT_JSON_TOKENS_H_

#include <string>

// Unescapes the interior [p, end) of a string literal, appending to *out when out is
// not null; false on a bad escape.
bool jsonUnescape(const char* p, const char* end, std::string* out);

// The library's value of the number token [p, end) as it prints it: an integer
// when the digits (after an optional "-") fit 64 bits, else a double read by a
// stream; false when that read fails (e.g. "1e400", "1e", "-.").
bool jsonNumberText(const char* p, const char* end, std::string* out);

#endif  // TARVEX_CONVERT_JSON_TOKENS_H_
