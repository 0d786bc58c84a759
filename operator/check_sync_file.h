// The operator check's part on logsynset.ini: loads it as the service does, shows
// the receiver URL (without the credentials written in it), its scheme, the run-log
// switch and the size of each dictionary, and reports what cannot work (no URL, a
// scheme other than http and https) or probably is not meant (cut texts, repeated
// or empty codes, counts beyond the entries written or the dictionary bound, octal
// numbers). GBK texts are shown as UTF-8 and marked. Reads the file afresh; not
// thread-safe (prints through the report).
#ifndef TARVEX_OPERATOR_CHECK_SYNC_FILE_H_
#define TARVEX_OPERATOR_CHECK_SYNC_FILE_H_

#include <string>

#include "operator/check_report.h"

// Returns the URL as the service uses it (cut to kMaxUrl), "" when it is missing,
// empty or of an unsupported scheme; *scheme receives "http" or "https" for a
// usable URL and is left alone otherwise.
std::string checkSyncFile(CheckReport& report, bool present, std::string* scheme);

#endif  // TARVEX_OPERATOR_CHECK_SYNC_FILE_H_
