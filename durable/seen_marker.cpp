#include "durable/seen_marker.h"

#include <openssl/evp.h>

#include <cstdio>

std::string seenMarkerKey(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  std::size_t digestLen = 0;
  if (EVP_Q_digest(nullptr, "SHA1", nullptr, text.data(), text.size(), digest, &digestLen) != 1) {
    return std::string();
  }
  std::string key = "tarvex:seen:";
  char hex[3];
  for (std::size_t i = 0; i < digestLen; ++i) {
    std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
    key += hex;
  }
  return key;
}
