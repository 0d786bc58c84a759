#include "platform/process_ctrl.h"

#include <unistd.h>

#include <cstring>

CProcessCtrl::CProcessCtrl() : parent_(getppid()) {}

int CProcessCtrl::StartProcess(const char* /*processName*/, const char* /*description*/,
                               const char* /*kind*/, int /*mode*/) {
  parent_ = getppid();
  return 1;
}

int CProcessCtrl::ISeeFather() {
  // When the parent dies the kernel re-parents us (to init or a subreaper), so the
  // parent pid changes.
  return getppid() == parent_ ? 1 : 0;
}

void get_host_name(char* name) {
  if (name == nullptr) return;
  char buf[256];
  std::memset(buf, 0, sizeof(buf));
  if (gethostname(buf, sizeof(buf) - 1) != 0) buf[0] = '\0';
  std::strncpy(name, buf, 127);
  name[127] = '\0';
}
