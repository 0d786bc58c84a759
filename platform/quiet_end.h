// Process-wide settings that keep the service from dying noisily.
//
// ignoreBrokenPipe: SIGPIPE is ignored, so a write to a closed socket returns EPIPE
// instead of killing the process. Always installed.
//
// installQuietEnd: an abort (failed assert, std::terminate, abort()) ends the
// process at once with exit status 0 and without a core dump or message, as the
// supervisor expects of a service that ends. Installed only when the raw command
// line reads as the number 0.
#ifndef TARVEX_PLATFORM_QUIET_END_H_
#define TARVEX_PLATFORM_QUIET_END_H_

void ignoreBrokenPipe();
void installQuietEnd();

// Ends the process with status 0 from any thread: flushes stdio and calls _exit, so
// no static destructor runs while worker threads still use shared objects.
[[noreturn]] void endProcess();

#endif  // TARVEX_PLATFORM_QUIET_END_H_
