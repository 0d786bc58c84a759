#include "host/entry.h"
#include "platform/quiet_end.h"

int main(int argc, char** argv) {
  tarvexMain(argc, argv);
  // The worker threads are never joined; end without running static destructors
  // under them.
  endProcess();
}
