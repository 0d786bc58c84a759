#include "platform/process_ctrl.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// The supervising parent recorded by the first StartProcess of the process; 0 until
// then. Objects made later (on any thread) watch this parent rather than whatever
// their parent is at the time, so a supervisor that dies before they are made is
// still noticed.
std::atomic<pid_t> gSupervisor{0};

}  // namespace

CProcessCtrl::CProcessCtrl() {
  const pid_t recorded = gSupervisor.load();
  parent_ = recorded != 0 ? recorded : getppid();
}

int CProcessCtrl::StartProcess(const char* /*processName*/, const char* /*description*/,
                               const char* /*kind*/, int /*mode*/) {
  parent_ = getppid();
  pid_t none = 0;
  gSupervisor.compare_exchange_strong(none, parent_);
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
  std::memset(name, 0, 128);
  std::size_t n = std::strlen(buf);
  std::memcpy(name, buf, n < 127 ? n : 127);
}
