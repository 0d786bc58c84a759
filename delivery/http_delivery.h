// HttpDelivery: the exchanges of one sender with the receiving platform, set up once
// from the [Http] options of tarvex.ini.
//
// post() sends `body` to `url` as a POST (a GET when the body is empty) with the
// caller's header lines (`headers`, each ended by CR LF), then the configured extra
// lines in index order, byte for byte. It waits at most kHttpTimeoutMs for the whole
// exchange. Schemes: http and https (a URL without one is http); no redirects, no
// proxy. An https URL is always verified: the peer's chain against CaFile (the
// system CA store when empty) and its host name; ClientCertFile / ClientKeyFile, when
// set, are presented as the client certificate.
//
// `reply` is written by the rules of httpPost (http_post.h): nothing is sent when it
// is not empty on entry. A certificate or handshake failure leaves it empty and
// prints one stderr line with libcurl's reason (outcome.reasonPrinted says so); the
// private key path never appears there nor in `outcome`. `outcome`, when given, is always overwritten with how the
// exchange ended. Always returns 1.
//
// KeepAlive=0: every post on a new libcurl handle and a new connection, closed after
// it. KeepAlive=1: one handle, owned by this object, serves every post, so libcurl
// keeps its connection open between posts; a connection the receiver has closed is
// made again, and a request that meets a kept connection closed under it is sent
// again on a new one (libcurl's own retry of a reused connection).
//
// A reply body over 16 MiB ends the exchange as kNoReply with an empty reply; with
// Durable=1 it is cut to its first 16 MiB instead (outcome.replyCut), so that a 2xx
// stays a 2xx. A time-out before the whole body went out sets outcome.sendIncomplete.
//
// Not thread-safe: one thread uses one object. Holds no pointer into the arguments
// of a post once it has returned.
#ifndef TARVEX_DELIVERY_HTTP_DELIVERY_H_
#define TARVEX_DELIVERY_HTTP_DELIVERY_H_

#include <string>
#include <vector>

#include "config/tarvex_options.h"
#include "config/timing.h"
#include "delivery/curl_handles.h"
#include "delivery/curl_tls.h"
#include "delivery/document_poster.h"
#include "delivery/http_outcome.h"

class HttpDelivery : public DocumentPoster {
 public:
  explicit HttpDelivery(const TarvexOptions& options);
  HttpDelivery(const HttpDelivery&) = delete;
  HttpDelivery& operator=(const HttpDelivery&) = delete;

  int post(const std::string& url, const std::string& headers, const std::string& body,
           std::string& reply, HttpOutcome* outcome = nullptr) override;

 private:
  // The handle for the next post: the kept one when keep-alive is on (made on first
  // use), else a new one handed to *fresh. Null when libcurl cannot make one.
  CURL* handleForPost(CurlEasyPtr* fresh);
  // libcurl's reason, one line, with the private key path masked.
  std::string reasonText(const char* errorBuffer, int code) const;

  const TlsFiles tls_;
  const std::vector<std::string> extraHeaders_;
  const bool keepAlive_;
  const bool cutLongReplies_;  // durable delivery: a long reply is cut, not a failure
  CurlEasyPtr kept_;  // the reused handle (keep-alive only)
};

#endif  // TARVEX_DELIVERY_HTTP_DELIVERY_H_
