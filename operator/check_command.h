// The operator's check (tarvex --check): reads the installation root and the
// three configuration files, prints the effective settings, every problem found
// with what to change, and the result of trying each Redis address, Sentinel and
// the receiver (kProbeTimeoutMs each). Output is UTF-8 for a person, in aligned
// columns; GBK texts of logsynset.ini are converted and marked. Passwords are
// shown as "(set)"; the private key's path is shown here and nowhere else, its
// contents never.
//
// Problems are errors (the settings cannot work as written) or warnings (they
// work, but probably not as meant). Returns 0 when there is no error and every
// try answered, else 1. Its parts: check_report.h (the report), check_redis_file.h,
// check_sync_file.h and check_options.h (one file each), check_key_lines.h (keys as
// written), check_tries.h (the tries).
#ifndef TARVEX_OPERATOR_CHECK_COMMAND_H_
#define TARVEX_OPERATOR_CHECK_COMMAND_H_

#include <cstdio>

#include "config/timing.h"

int runCheck(std::FILE* out);

#endif  // TARVEX_OPERATOR_CHECK_COMMAND_H_
