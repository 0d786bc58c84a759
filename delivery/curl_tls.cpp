#include "delivery/curl_tls.h"

TlsFiles tlsFilesOf(const TarvexOptions& options) {
  return {options.caFile, options.clientCertFile, options.clientKeyFile};
}

void setCurlTls(CURL* h, const TlsFiles& files) {
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!files.caFile.empty()) {
    // Only the given CAs: the system store's directory is not searched either.
    curl_easy_setopt(h, CURLOPT_CAINFO, files.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  }
  if (!files.certFile.empty()) {
    curl_easy_setopt(h, CURLOPT_SSLCERT, files.certFile.c_str());
    curl_easy_setopt(h, CURLOPT_SSLCERTTYPE, "PEM");
  }
  if (!files.keyFile.empty()) {
    curl_easy_setopt(h, CURLOPT_SSLKEY, files.keyFile.c_str());
    curl_easy_setopt(h, CURLOPT_SSLKEYTYPE, "PEM");
  }
}
