#include "delivery/http_post.h"

#include <curl/curl.h>

#include <cctype>
#include <mutex>
#include <vector>

#include "delivery/curl_handles.h"

namespace {

// A reply body larger than this is not kept: the exchange is cut off and the
// reply stays empty, so a runaway receiver cannot exhaust memory.
constexpr std::size_t kMaxReplyBytes = 16u * 1024u * 1024u;

// Request headers libcurl would add on its own that the receiver is not sent
// unless the caller gives them: "Name:" with nothing after the colon removes them.
// Without "Expect:" a large body would wait for a "100 Continue" first.
const char* const kSuppressedHeaders[] = {"Accept", "Content-Type", "Expect"};

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The caller's header text split at CR LF; empty pieces are dropped.
std::vector<std::string> splitHeaderLines(const std::string& headers) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < headers.size()) {
    std::size_t end = headers.find("\r\n", pos);
    if (end == std::string::npos) end = headers.size();
    if (end > pos) lines.push_back(headers.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// True when `line` is a header named `name` (case-insensitive).
bool isHeader(const std::string& line, const char* name) {
  std::size_t i = 0;
  for (; name[i] != '\0'; ++i) {
    if (i >= line.size() ||
        std::tolower(static_cast<unsigned char>(line[i])) !=
            std::tolower(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return i < line.size() && line[i] == ':';
}

bool appendHeader(CurlSlistPtr* list, const std::string& line) {
  curl_slist* head = curl_slist_append(list->get(), line.c_str());
  if (head == nullptr) return false;  // the old list is still intact and owned
  (void)list->release();
  list->reset(head);
  return true;
}

// libcurl write callback: appends the reply body to the std::string in `user`.
size_t collectBody(char* data, size_t size, size_t count, void* user) {
  std::string* sink = static_cast<std::string*>(user);
  const size_t n = size * count;
  if (sink->size() + n > kMaxReplyBytes) return 0;  // makes libcurl abort the transfer
  sink->append(data, n);
  return n;
}

}  // namespace

int httpPost(const std::string& url, const std::string& headers, const std::string& body,
             std::string& reply) {
  if (!reply.empty()) return 1;  // the exchange counts as finished: send nothing

  initCurlOnce();
  CurlEasyPtr curl(curl_easy_init());
  if (curl == nullptr) return 1;
  CURL* h = curl.get();

  CurlSlistPtr headerList;
  const std::vector<std::string> lines = splitHeaderLines(headers);
  for (const std::string& line : lines) {
    if (!appendHeader(&headerList, line)) return 1;
  }
  for (const char* name : kSuppressedHeaders) {
    bool given = false;
    for (const std::string& line : lines) given = given || isHeader(line, name);
    if (!given && !appendHeader(&headerList, std::string(name) + ":")) return 1;
  }

  std::string sink;  // reply body
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  // Plain HTTP only; a URL without a scheme is taken as http. Any other scheme
  // (https included) fails before a connection is made.
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
  curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP));
#endif
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_PROXY, "");  // always straight to the receiver
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kHttpTimeoutMs);  // libcurl times on a monotonic clock
#if LIBCURL_VERSION_NUM >= 0x075700
  // Cleanup must not wait for a name lookup that is still hanging.
  curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  if (body.empty()) {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);

  const CURLcode rc = curl_easy_perform(h);
  switch (rc) {
    case CURLE_OK:
      // Any status: the body is the answer, exactly as received (may be empty).
      reply = std::move(sink);
      break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
      reply = kConnectFailedText;
      break;
    default:
      // Time-out, connection closed or reset without a reply, a cut-off or
      // oversized reply, an unusable URL or scheme: nothing to hand back.
      break;
  }
  return 1;
}
