// httpPost: one synchronous HTTP exchange with the receiving platform, with the
// default options (no tarvex.ini): an HttpDelivery (http_delivery.h) used once.
//
// POSTs `body` to `url` (a GET when the body is empty) with the extra header lines
// in `headers` (each ended by CR LF), on a new connection, and waits at most
// kHttpTimeoutMs. An https URL is verified against the system CA store. Writes only
// `reply`:
//   - a reply with a body, whatever its status: the body, byte for byte;
//   - the connection could not be made: "restful connectfailed,getalldata failed";
//   - time-out, empty reply body, connection closed without reply, a certificate or
//     handshake failure, or a scheme other than http and https: left empty.
// When `reply` is not empty on entry, nothing is sent. Always returns 1.
// Safe to call from one thread at a time per call; holds nothing between calls.
#ifndef TARVEX_DELIVERY_HTTP_POST_H_
#define TARVEX_DELIVERY_HTTP_POST_H_

#include <string>

#include "config/timing.h"

constexpr const char* kConnectFailedText = "restful connectfailed,getalldata failed";

int httpPost(const std::string& url, const std::string& headers, const std::string& body,
             std::string& reply);

#endif  // TARVEX_DELIVERY_HTTP_POST_H_
