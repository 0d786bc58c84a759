// The process entry: single-instance guard, supervision hand-shake, configuration,
// first arbitration pass, worker threads and the forwarding loop; a stop signal
// (host/stop_signal.h) ends a standby at once and makes the owner hand the work
// over, post what it holds and return 0 after the closing line. Returns the exit
// status: 0, or for --check the check's own status (1 when it failed); some paths
// end the process with exit(0) instead.
#ifndef TARVEX_HOST_ENTRY_H_
#define TARVEX_HOST_ENTRY_H_

constexpr const char* kInstanceMutexName = "htarvexMutex";
constexpr const char* kSelfArgument = "-self";
constexpr int kMaxFirstArgument = 24;  // a first argument this long or longer is ignored

int tarvexMain(int argc, char** argv);

// The raw command line (the arguments after the program name, joined by single
// blanks) read like atoi: 0 for "-self", an empty line or any non-number.
int rawCommandNumber(int argc, char** argv);

// 1 when the first argument is exactly "-self" (and shorter than
// kMaxFirstArgument), else 0.
unsigned char readSelfFlag(int argc, char** argv);

#endif  // TARVEX_HOST_ENTRY_H_
