// The service's own texts, as the GBK bytes they go out as. The comment beside each
// shows the text.
#ifndef TARVEX_HOST_MESSAGES_H_
#define TARVEX_HOST_MESSAGES_H_

// "进入tovra日志同步程序tarvex "
constexpr const char* kStartLine =
    "\xBD\xF8\xC8\xEB" "tovra" "\xC8\xD5\xD6\xBE\xCD\xAC\xB2\xBD\xB3\xCC\xD0\xF2" "tarvex ";
// "本程序获取到运行标志 "
constexpr const char* kOwnLine =
    "\xB1\xBE\xB3\xCC\xD0\xF2\xBB\xF1\xC8\xA1\xB5\xBD\xD4\xCB\xD0\xD0\xB1\xEA\xD6\xBE ";
// "tarvex获取redis信息错误，关闭程序！！！"
constexpr const char* kRedisErrorLine =
    "tarvex" "\xBB\xF1\xC8\xA1" "redis"
    "\xD0\xC5\xCF\xA2\xB4\xED\xCE\xF3\xA3\xAC\xB9\xD8\xB1\xD5\xB3\xCC\xD0\xF2\xA3\xA1\xA3\xA1\xA3\xA1";
// "tarvex关闭程序 "
constexpr const char* kCloseLine = "tarvex" "\xB9\xD8\xB1\xD5\xB3\xCC\xD0\xF2 ";
// "tovra日志同步程序", the description handed to the supervisor
constexpr const char* kProcessDescription =
    "tovra" "\xC8\xD5\xD6\xBE\xCD\xAC\xB2\xBD\xB3\xCC\xD0\xF2";
// "tovra操作日志同步No=%d,data:%s --", the run-log line format
constexpr const char* kRunLogFormat =
    "tovra" "\xB2\xD9\xD7\xF7\xC8\xD5\xD6\xBE\xCD\xAC\xB2\xBD" "No=%d,data:%s --";

#endif  // TARVEX_HOST_MESSAGES_H_
