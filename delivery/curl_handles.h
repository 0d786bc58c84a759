// Owning handles for libcurl objects: every easy handle is released with
// curl_easy_cleanup and every header list with curl_slist_free_all, exactly once,
// on every path.
#ifndef TARVEX_DELIVERY_CURL_HANDLES_H_
#define TARVEX_DELIVERY_CURL_HANDLES_H_

#include <curl/curl.h>

#include <memory>

struct CurlEasyDeleter {
  void operator()(CURL* c) const {
    if (c != nullptr) curl_easy_cleanup(c);
  }
};
using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlSlistDeleter {
  void operator()(curl_slist* l) const {
    if (l != nullptr) curl_slist_free_all(l);
  }
};
using CurlSlistPtr = std::unique_ptr<curl_slist, CurlSlistDeleter>;

#endif  // TARVEX_DELIVERY_CURL_HANDLES_H_
