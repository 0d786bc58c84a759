// PLATFORMLOGINFO: one record of the receiving platform's document, seventeen
// texts in the document's column order.
//
// appendJson appends the record as a compact JSON object to *out: one string
// member per field, named like the field (operator_ as "operator"), every member
// present, members in ascending byte order of their names, no white space. The
// bytes of each text are kept as they are (non-ASCII and non-UTF-8 bytes too);
// only quote, backslash and control characters are escaped (appendJsonString,
// json_text.h), as JsonCpp's StreamWriter does with emitUTF8 set, so the text
// equals that writer's output.
//
// Why the document has its own writer, measured: JsonCpp 1.9.5's FastWriter
// escapes every non-ASCII byte as \uXXXX, which corrupts the GBK texts of the
// dictionaries; and the library's StreamWriter, which keeps the bytes, took about
// 47 % of the whole conversion. A test compares this writer with StreamWriter byte
// for byte, so keep it rather than going back to the library.
#ifndef TARVEX_CONVERT_PLATFORM_LOG_INFO_H_
#define TARVEX_CONVERT_PLATFORM_LOG_INFO_H_

#include <string>

struct PLATFORMLOGINFO {
  std::string lineId;         // station's line identifier
  std::string stationId;      // station identifier
  std::string operateTime;    // "%d-%d-%d %d:%d:%d" local time of the operation
  std::string operator_;      // always empty; member "operator"
  std::string userShortName;  // always empty
  std::string userName;       // input "userattr[0]"
  std::string roleName;       // always empty
  std::string workstation;    // input "userattr[1]"
  std::string major;          // application-system name
  std::string subSystem;      // always empty
  std::string eventType;      // always "122"
  std::string guid;           // occurtime:occurms:devicekey:classname
  std::string target;         // always empty
  std::string description;    // input "chardesc", unchanged
  std::string result;         // always empty
  std::string lineName;       // station's line name
  std::string stationName;    // station name
};

void appendJson(const PLATFORMLOGINFO& record, std::string* out);

#endif  // TARVEX_CONVERT_PLATFORM_LOG_INFO_H_
