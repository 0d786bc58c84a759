// The operator check's tries: every Redis address the settings give (in Sentinel
// mode each Sentinel, then the masters the first answering one names), with the
// credentials of tarvex.ini, and the receiver; each bounded by kProbeTimeoutMs.
// With Durable=1 a master older than the stream needs is an error. Prints through
// the report; not thread-safe.
#ifndef TARVEX_OPERATOR_CHECK_TRIES_H_
#define TARVEX_OPERATOR_CHECK_TRIES_H_

#include <string>

#include "config/redis_settings.h"
#include "config/tarvex_options.h"
#include "operator/check_report.h"

// `url`: the receiver's, "" to leave the receiver untried.
void tryEverything(CheckReport& report, const RedisSettings& settings,
                   const TarvexOptions& options, const std::string& url);

#endif  // TARVEX_OPERATOR_CHECK_TRIES_H_
