// The checks a copy passes once at start, after cfg/tarvex.ini was loaded and before
// any worker thread runs, so that it never runs on settings other than those written:
//   - a tarvex.ini that is there but cannot be read (defaults would drop AUTH and
//     durable delivery without a word);
//   - with Durable=1, a master that answers with a Redis older than 6.2 (the stream
//     is read with XAUTOCLAIM). A master that does not answer, or whose version
//     cannot be told, passes: the arbitration deals with an unreachable Redis.
// A failed check prints one line on stderr saying why (never a secret) and the
// caller ends the process. Runs on the main thread only.
#ifndef TARVEX_HOST_START_GATE_H_
#define TARVEX_HOST_START_GATE_H_

#include "config/tarvex_options.h"

// True when the start may go on.
bool startGateOpen(const TarvexOptions& options);

#endif  // TARVEX_HOST_START_GATE_H_
