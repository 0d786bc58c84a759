// The Redis keys and names of durable delivery, and its scripts.
#ifndef TARVEX_REDIS_DURABLE_KEYS_H_
#define TARVEX_REDIS_DURABLE_KEYS_H_

#include <cstddef>

constexpr const char* kCaptureStream = "tarvex:capture";        // texts waiting to be sent
constexpr const char* kForwarderGroup = "forwarders";           // consumer group of owners
constexpr const char* kDeadLetterStream = "tarvex:deadletter";  // texts the receiver rejected
constexpr const char* kAliveHash = "tarvex:alive";  // host -> last second it was subscribed
constexpr const char* kSeenSeconds = "600";         // life of a text's "captured" marker
constexpr std::size_t kDeadLetterReplyBytes = 4096;  // reply bytes kept with a dead letter

// Adds each of ARGV[3], ARGV[4], ... to the stream KEYS[1] (MAXLEN ~ ARGV[1]) unless
// a copy of the service captured the same text within ARGV[2] seconds, as the
// marker key tarvex:seen:<sha1 of the text> shows. The marker is set only after the
// entry was added: an add that fails (an ACL without XADD, a key of another type)
// ends the script with its error and leaves no marker, so the next call adds the
// text; texts before it in the same call are added and marked. Returns the number
// of texts added.
constexpr const char* kCaptureScript =
    "local added = 0\n"
    "for i = 3, #ARGV do\n"
    "  local seen = 'tarvex:seen:' .. redis.sha1hex(ARGV[i])\n"
    "  if redis.call('EXISTS', seen) == 0 then\n"
    "    redis.call('XADD', KEYS[1], 'MAXLEN', '~', ARGV[1], '*', 'text', ARGV[i])\n"
    "    redis.call('SET', seen, '1', 'EX', ARGV[2])\n"
    "    added = added + 1\n"
    "  end\n"
    "end\n"
    "return added\n";
// SHA1 of kCaptureScript, for EVALSHA (a test checks it against SCRIPT LOAD).
constexpr const char* kCaptureScriptSha = "fe21c7824059b20b0ea9ad9a712262b12a5595d1";

// Reads entries of the stream KEYS[1] for consumer ARGV[2] of group ARGV[1], one
// XREADGROUP COUNT 1 at a time, from ARGV[3] ('>' new entries; an id: this
// consumer's pending entries after it), until ARGV[4] entries are read or their
// texts come to ARGV[5] bytes (the entry that reaches it is the last; one larger
// entry comes alone). Non-blocking. Returns the entries as XREADGROUP gives them:
// {id, {field, value, ...}}, or {id} for a pending entry trimmed away since.
constexpr const char* kReadScript =
    "local out, bytes, from = {}, 0, ARGV[3]\n"
    "local most, budget = tonumber(ARGV[4]), tonumber(ARGV[5])\n"
    "while #out < most and bytes < budget do\n"
    "  local r = redis.call('XREADGROUP', 'GROUP', ARGV[1], ARGV[2], 'COUNT', 1,\n"
    "                       'STREAMS', KEYS[1], from)\n"
    "  if not r then break end\n"
    "  local e = r[1][2][1]\n"
    "  if not e then break end\n"
    "  out[#out + 1] = e\n"
    "  if from ~= '>' then from = e[1] end\n"
    "  local f = e[2]\n"
    "  if f then\n"
    "    for i = 1, #f, 2 do\n"
    "      if f[i] == 'text' then bytes = bytes + #f[i + 1] end\n"
    "    end\n"
    "  end\n"
    "end\n"
    "return out\n";
constexpr const char* kReadScriptSha = "ff97e73032cd430380d47a34ba4c7482d56e5848";

#endif  // TARVEX_REDIS_DURABLE_KEYS_H_
