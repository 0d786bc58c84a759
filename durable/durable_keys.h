// The Redis keys and names of durable delivery, and its scripts.
#ifndef TARVEX_DURABLE_DURABLE_KEYS_H_
#define TARVEX_DURABLE_DURABLE_KEYS_H_

#include <cstddef>

constexpr const char* kCaptureStream = "tarvex:capture";        // texts waiting to be sent
constexpr const char* kForwarderGroup = "forwarders";           // consumer group of owners
constexpr const char* kDeadLetterStream = "tarvex:deadletter";  // texts the receiver rejected
constexpr const char* kAliveHash = "tarvex:alive";  // host -> last second it was subscribed
constexpr const char* kSeenSeconds = "600";         // life of a text's "captured" marker
constexpr std::size_t kDeadLetterReplyBytes = 4096;  // reply bytes kept with a dead letter

// Adds each of ARGV[3], ARGV[4], ... to the stream KEYS[1] (MAXLEN ~ ARGV[1]) unless
// a copy of the service captured the same text within ARGV[2] seconds, as its marker
// key shows: KEYS[2] for ARGV[3], KEYS[3] for ARGV[4] ... (seenMarkerKey: one per
// text). The markers are read in one MGET; a text that comes twice in one call is
// added once. The marker is set only after the entry was added: an add that fails
// (an ACL without XADD, a key of another type) ends the script with its error and
// leaves no marker, so the next call adds the text; texts before it in the same call
// are added and marked. Returns the number of texts added.
constexpr const char* kCaptureScript =
    "local seen = redis.call('MGET', unpack(KEYS, 2))\n"
    "local added, done = 0, {}\n"
    "for i = 2, #KEYS do\n"
    "  local marker = KEYS[i]\n"
    "  if not seen[i - 1] and not done[marker] then\n"
    "    redis.call('XADD', KEYS[1], 'MAXLEN', '~', ARGV[1], '*', 'text', ARGV[i + 1])\n"
    "    redis.call('SET', marker, '1', 'EX', ARGV[2])\n"
    "    done[marker] = true\n"
    "    added = added + 1\n"
    "  end\n"
    "end\n"
    "return added\n";
// SHA1 of kCaptureScript, for EVALSHA (a test checks it against SCRIPT LOAD).
constexpr const char* kCaptureScriptSha = "4b181afc03efa25f6d30f3fc446f9716c2759075";

// Acknowledges the ids ARGV[6], ARGV[7], ... in group ARGV[1] of the stream KEYS[1],
// then reads at most ARGV[4] entries for consumer ARGV[2] from ARGV[3] ('>' new
// entries; an id: this consumer's pending entries after it), non-blocking, in one
// XREADGROUP. Of those it returns the first ones until their texts come to ARGV[5]
// bytes (the entry that reaches it is the last returned; one larger entry comes
// alone); the rest stay pending under this consumer, to be read again from its
// pending entries. Returns {entries not returned, {entry, ...}}, each entry as
// XREADGROUP gives it: {id, {field, value, ...}}, or {id} for a pending entry
// trimmed away since.
constexpr const char* kReadScript =
    "if #ARGV > 5 then\n"
    "  redis.call('XACK', KEYS[1], ARGV[1], unpack(ARGV, 6))\n"
    "end\n"
    "local r = redis.call('XREADGROUP', 'GROUP', ARGV[1], ARGV[2], 'COUNT', ARGV[4],\n"
    "                     'STREAMS', KEYS[1], ARGV[3])\n"
    "if not r then return {0, {}} end\n"
    "local read, out, bytes, budget = r[1][2], {}, 0, tonumber(ARGV[5])\n"
    "for i = 1, #read do\n"
    "  if bytes >= budget then return {#read - i + 1, out} end\n"
    "  local e = read[i]\n"
    "  out[i] = e\n"
    "  local f = e[2]\n"
    "  if f then\n"
    "    for j = 1, #f, 2 do\n"
    "      if f[j] == 'text' then bytes = bytes + #f[j + 1] end\n"
    "    end\n"
    "  end\n"
    "end\n"
    "return {0, out}\n";
constexpr const char* kReadScriptSha = "8c0c11db3fc9efd8f2bae02ed5edc6bed1be9ff7";

#endif  // TARVEX_DURABLE_DURABLE_KEYS_H_
