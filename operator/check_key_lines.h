// The operator check's report on the key lines of one configuration file as
// written: a key the service never reads (misspelt, or an index at or past its
// count) is a warning, naming the line, the section it stands under and, for a
// name that differs only in case, the key meant; a value the reader cuts (by its
// line limit or its value limit) is an error.
//
// A key line's section is the latest header above it, where the person wrote it,
// although lookups find a key under any header after its own section's (IniFile).
// Key lines under a section the service does not know are left alone. Reads the
// file afresh, once; prints through the report; not thread-safe.
#ifndef TARVEX_OPERATOR_CHECK_KEY_LINES_H_
#define TARVEX_OPERATOR_CHECK_KEY_LINES_H_

#include <string>

#include "operator/check_report.h"

// `fileName`: rdsset.ini, logsynset.ini or tarvex.ini (another name is skipped).
void checkKeyLines(CheckReport& report, const std::string& fileName);

#endif  // TARVEX_OPERATOR_CHECK_KEY_LINES_H_
