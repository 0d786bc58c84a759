// A private installation root for a fuzz target: a temp directory with cfg/ and
// log/, named by ZQROOT for the rest of the process and removed when it exits.
#ifndef TARVEX_FUZZ_FUZZ_ROOT_H_
#define TARVEX_FUZZ_FUZZ_ROOT_H_

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/kprintf.h"

namespace fuzzroot {

inline std::string& dir() {
  static std::string d;
  return d;
}

inline void removeRoot() {
  // Only the few files the targets write live here.
  const std::string d = dir();
  for (const char* f : {"/cfg/fuzz.ini", "/cfg/logsynset.ini", "/log/tarvex.log"}) {
    unlink((d + f).c_str());
  }
  rmdir((d + "/cfg").c_str());
  rmdir((d + "/log").c_str());
  rmdir(d.c_str());
}

// Creates the root once and returns its path; aborts when that is impossible, since
// no input could be run.
inline const std::string& make() {
  if (!dir().empty()) return dir();
  // Memory-backed when possible: every input is written to a file.
  struct stat st;
  const bool shm = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0;
  char tmpl[64];
  snprintf(tmpl, sizeof(tmpl), "%s/tarvex-fuzz-XXXXXX", shm ? "/dev/shm" : "/tmp");
  if (mkdtemp(tmpl) == nullptr) abort();
  dir() = tmpl;
  mkdir((dir() + "/cfg").c_str(), 0755);
  mkdir((dir() + "/log").c_str(), 0755);
  setenv("ZQROOT", tmpl, 1);
  unsetenv("VUVORER");
  setRunLogRoot(dir());
  atexit(removeRoot);
  return dir();
}

inline void writeCfg(const std::string& name, const void* data, size_t size) {
  const std::string path = make() + "/cfg/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

}  // namespace fuzzroot

#endif  // TARVEX_FUZZ_FUZZ_ROOT_H_
