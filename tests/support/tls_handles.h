// Owning handles for the OpenSSL objects of the test servers: every SSL_CTX is
// released with SSL_CTX_free and every SSL with SSL_free, exactly once.
#ifndef TARVEX_TESTS_SUPPORT_TLS_HANDLES_H_
#define TARVEX_TESTS_SUPPORT_TLS_HANDLES_H_

#include <openssl/ssl.h>

#include <memory>

struct SslCtxDeleter {
  void operator()(SSL_CTX* c) const {
    if (c != nullptr) SSL_CTX_free(c);
  }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;

struct SslDeleter {
  void operator()(SSL* s) const {
    if (s != nullptr) SSL_free(s);
  }
};
using SslPtr = std::unique_ptr<SSL, SslDeleter>;

#endif  // TARVEX_TESTS_SUPPORT_TLS_HANDLES_H_
