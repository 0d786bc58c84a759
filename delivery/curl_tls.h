// The TLS settings of every libcurl exchange with the receiving platform: the
// delivery's posts and the operator check's handshake set them up here, so that the
// check trusts exactly what the delivery trusts.
//
// setCurlTls always turns on verification of the peer's chain and of its host name.
// With a CA file only the CAs in it are trusted: the system store's CA directory
// (libcurl's built-in CAPATH) is cleared as well, so a receiver that only the system
// store knows is refused. Without one the system store is used. A client certificate
// and key, when given, are presented as PEM. libcurl copies every text, so `files`
// need not outlive the call. Thread-safe as far as `h` is used by one thread.
#ifndef TARVEX_DELIVERY_CURL_TLS_H_
#define TARVEX_DELIVERY_CURL_TLS_H_

#include <curl/curl.h>

#include <string>

#include "config/tarvex_options.h"

// The [Http] files of tarvex.ini that TLS uses; an empty path is not set.
struct TlsFiles {
  std::string caFile;    // CAs trusted for the receiver; empty: the system CA store
  std::string certFile;  // client certificate
  std::string keyFile;   // its private key
};

TlsFiles tlsFilesOf(const TarvexOptions& options);

void setCurlTls(CURL* h, const TlsFiles& files);

#endif  // TARVEX_DELIVERY_CURL_TLS_H_
