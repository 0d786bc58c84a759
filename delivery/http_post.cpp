#include "delivery/http_post.h"

#include "config/tarvex_options.h"
#include "delivery/http_delivery.h"

int httpPost(const std::string& url, const std::string& headers, const std::string& body,
             std::string& reply) {
  HttpDelivery delivery{TarvexOptions()};
  return delivery.post(url, headers, body, reply);
}
