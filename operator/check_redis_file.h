// The operator check's part on rdsset.ini: loads the settings as the service does,
// shows the mode, the time-out and every address the service would use, and
// reports what cannot work (a mode without an address, a mode other than 1, 2, 3)
// or probably is not meant (octal numbers, counts beyond the entries written or
// the list bound, a time-out below 1 ms). Reads the file afresh; not thread-safe
// (prints through the report).
#ifndef TARVEX_OPERATOR_CHECK_REDIS_FILE_H_
#define TARVEX_OPERATOR_CHECK_REDIS_FILE_H_

#include "config/redis_settings.h"
#include "operator/check_report.h"

// With `present` false reports the missing file and leaves *settings alone; else
// fills *settings with what the service loads.
void checkRedisFile(CheckReport& report, bool present, RedisSettings* settings);

#endif  // TARVEX_OPERATOR_CHECK_REDIS_FILE_H_
