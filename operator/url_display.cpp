#include "operator/url_display.h"

namespace {

constexpr const char* kMask = "***";

}  // namespace

std::string urlWithoutCredentials(const std::string& url) {
  const std::size_t sep = url.find("://");
  const std::size_t start = sep == std::string::npos ? 0 : sep + 3;
  std::size_t end = url.find_first_of("/?#", start);
  if (end == std::string::npos) end = url.size();
  const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start || at >= end) return url;
  const bool withPassword = url.find(':', start) < at;
  return url.substr(0, start) + kMask + (withPassword ? std::string(":") + kMask : "") +
         url.substr(at);
}
