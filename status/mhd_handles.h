// Owning handles for libmicrohttpd objects: a daemon is stopped with
// MHD_stop_daemon (which joins its thread and closes its listening socket) and a
// response released with MHD_destroy_response, exactly once, on every path.
#ifndef TARVEX_STATUS_MHD_HANDLES_H_
#define TARVEX_STATUS_MHD_HANDLES_H_

#include <microhttpd.h>

#include <memory>

struct MhdDaemonDeleter {
  void operator()(MHD_Daemon* d) const {
    if (d != nullptr) MHD_stop_daemon(d);
  }
};
using MhdDaemonPtr = std::unique_ptr<MHD_Daemon, MhdDaemonDeleter>;

struct MhdResponseDeleter {
  void operator()(MHD_Response* r) const {
    if (r != nullptr) MHD_destroy_response(r);
  }
};
using MhdResponsePtr = std::unique_ptr<MHD_Response, MhdResponseDeleter>;

#endif  // TARVEX_STATUS_MHD_HANDLES_H_
