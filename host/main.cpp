#include "host/entry.h"
#include "platform/quiet_end.h"

int main(int argc, char** argv) {
  const int status = tarvexMain(argc, argv);
  // Only --check ends with another status; no worker thread runs then.
  if (status != 0) return status;
  // The worker threads are never joined; end without running static destructors
  // under them.
  endProcess();
}
