// The Redis keys and names of durable delivery, and its capture script.
#ifndef TARVEX_REDIS_DURABLE_KEYS_H_
#define TARVEX_REDIS_DURABLE_KEYS_H_

constexpr const char* kCaptureStream = "tarvex:capture";        // texts waiting to be sent
constexpr const char* kForwarderGroup = "forwarders";           // consumer group of owners
constexpr const char* kDeadLetterStream = "tarvex:deadletter";  // texts the receiver rejected
constexpr const char* kAliveHash = "tarvex:alive";  // host -> last second it was subscribed
constexpr const char* kSeenSeconds = "600";         // life of a text's "captured" marker

// Adds each of ARGV[3], ARGV[4], ... to the stream KEYS[1] (MAXLEN ~ ARGV[1]) unless
// a copy of the service captured the same text within ARGV[2] seconds; the marker
// key tarvex:seen:<sha1 of the text> is set in the same step. Returns the number
// of texts added.
constexpr const char* kCaptureScript =
    "local added = 0\n"
    "for i = 3, #ARGV do\n"
    "  local seen = 'tarvex:seen:' .. redis.sha1hex(ARGV[i])\n"
    "  if redis.call('SET', seen, '1', 'NX', 'EX', ARGV[2]) then\n"
    "    redis.call('XADD', KEYS[1], 'MAXLEN', '~', ARGV[1], '*', 'text', ARGV[i])\n"
    "    added = added + 1\n"
    "  end\n"
    "end\n"
    "return added\n";
// SHA1 of kCaptureScript, for EVALSHA (a test checks it against SCRIPT LOAD).
constexpr const char* kCaptureScriptSha = "90fbb7baf0d16b6e5ce418558d2565f3aad7ff11";

#endif  // TARVEX_REDIS_DURABLE_KEYS_H_
