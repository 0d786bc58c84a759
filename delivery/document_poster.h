// DocumentPoster: where the forwarding loop sends its documents. HttpDelivery is the
// receiver over HTTP(S); tests put a fake in its place to drive the retry and
// settle rules without a socket. Used by one thread at a time.
#ifndef TARVEX_DELIVERY_DOCUMENT_POSTER_H_
#define TARVEX_DELIVERY_DOCUMENT_POSTER_H_

#include <string>

#include "delivery/http_outcome.h"

class DocumentPoster {
 public:
  virtual ~DocumentPoster() = default;

  // Posts `body` to `url` with the header lines `headers` (CRLF-separated) and
  // writes what came back into `reply`; *outcome, when given, receives how the
  // exchange ended. The result is the implementation's (HttpDelivery: always 1).
  virtual int post(const std::string& url, const std::string& headers, const std::string& body,
                   std::string& reply, HttpOutcome* outcome = nullptr) = 0;
};

#endif  // TARVEX_DELIVERY_DOCUMENT_POSTER_H_
