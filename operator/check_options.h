// The operator check's part on tarvex.ini: shows every option as the service uses
// it (passwords as "(set)", header values not at all; the private key's path is
// shown, its contents never) and reports what cannot work (TLS files an https URL
// cannot read, a status address that is not host:port) or probably is not meant
// (TLS files beside a URL that is not https). Prints through the report; not
// thread-safe.
#ifndef TARVEX_OPERATOR_CHECK_OPTIONS_H_
#define TARVEX_OPERATOR_CHECK_OPTIONS_H_

#include <string>

#include "config/tarvex_options.h"
#include "operator/check_report.h"

// `options` as loaded; `scheme` the receiver URL's ("http", "https" or "" when it
// is unusable).
void checkOptions(CheckReport& report, const TarvexOptions& options, const std::string& scheme);

#endif  // TARVEX_OPERATOR_CHECK_OPTIONS_H_
