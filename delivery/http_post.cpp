// Placeholder until delivery lands: sends nothing.
#include "delivery/http_post.h"

int httpPost(const std::string&, const std::string&, const std::string&, std::string&) {
  return 1;
}
