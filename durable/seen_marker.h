// The key that marks a text as captured: "tarvex:seen:" and the SHA-1 of the text's
// bytes in 40 lower-case hex digits, as every copy of the service computes it, so
// that the copies agree on which texts the stream holds. Empty when the digest
// cannot be computed (the caller then captures nothing). Thread-safe.
#ifndef TARVEX_DURABLE_SEEN_MARKER_H_
#define TARVEX_DURABLE_SEEN_MARKER_H_

#include <string>

std::string seenMarkerKey(const std::string& text);

#endif  // TARVEX_DURABLE_SEEN_MARKER_H_
