// Supervision hand-shake with the process that started the service, and the host
// name the instances use to tell each other apart.
//
// CProcessCtrl: StartProcess records the pid of the parent process, for this object
// and for every object made afterwards in the process. ISeeFather returns non-zero
// while the recorded parent (without any StartProcess in the process: the parent at
// construction) is still the process's parent, and 0 once it is gone (the process
// was re-parented). Objects are cheap, hold no resources and may be made on any
// thread.
//
// get_host_name fills `name` (128 bytes) with gethostname(), cut to 127 bytes and
// zero-filled after the name; an empty text when the name cannot be read.
#ifndef TARVEX_PLATFORM_PROCESS_CTRL_H_
#define TARVEX_PLATFORM_PROCESS_CTRL_H_

#include <sys/types.h>

class CProcessCtrl {
 public:
  CProcessCtrl();
  ~CProcessCtrl() = default;

  // The names and the mode select nothing on Linux; they are kept so that callers
  // pass what the supervisor protocol carries. Returns 1.
  int StartProcess(const char* processName, const char* description, const char* kind,
                   int mode);

  // Non-zero while the recorded parent is alive and still our parent.
  int ISeeFather();

 private:
  pid_t parent_;  // pid of the supervising parent, recorded at start
};

void get_host_name(char* name);

#endif  // TARVEX_PLATFORM_PROCESS_CTRL_H_
