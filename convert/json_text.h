// The one JSON string writer of tarvex: the receiver's document (platform_log_info)
// and the status endpoint's /health answer quote their texts here.
//
// A text becomes a JSON string in double quotes. Quote and backslash are escaped,
// and so is every control byte below 0x20: \b \f \n \r \t by their short forms, the
// others as \u00XX with lower-case hex digits (\u0000 for a NUL inside the text).
// Every other byte is copied as it is, DEL, non-ASCII and non-UTF-8 bytes included,
// so GBK texts survive unchanged. The bytes equal JsonCpp's StreamWriter output with
// emitUTF8 set. Pure functions; thread-safe.
#ifndef TARVEX_CONVERT_JSON_TEXT_H_
#define TARVEX_CONVERT_JSON_TEXT_H_

#include <string>
#include <string_view>

// Appends `text` quoted to *out.
void appendJsonString(std::string_view text, std::string* out);

// `text` quoted.
std::string jsonString(std::string_view text);

#endif  // TARVEX_CONVERT_JSON_TEXT_H_
