#include "delivery/http_delivery.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "config/timing.h"
#include "delivery/curl_tls.h"
#include "delivery/http_post.h"

namespace {

// A reply body larger than this is not kept, so a runaway receiver cannot exhaust
// memory: the exchange is cut off and the reply stays empty, or, with durable
// delivery (where a 2xx must count whatever its body), the rest is read and dropped.
constexpr std::size_t kMaxReplyBytes = 16u * 1024u * 1024u;

// Request headers libcurl would add on its own that the receiver is not sent
// unless the caller gives them: "Name:" with nothing after the colon removes them.
// Without "Expect:" a large body would wait for a "100 Continue" first.
const char* const kSuppressedHeaders[] = {"Accept", "Content-Type", "Expect"};

// Stands for the private key path wherever libcurl's text would show it.
constexpr const char* kKeyPathMask = "<client key file>";

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

// Where the write callback puts the reply body.
struct ReplySink {
  std::string body;
  bool cutLongReply = false;  // keep the first kMaxReplyBytes, drop the rest
  bool cut = false;           // bytes were dropped
};

// libcurl write callback: appends the reply body to the ReplySink in `user`.
size_t collectBody(char* data, size_t size, size_t count, void* user) {
  ReplySink* sink = static_cast<ReplySink*>(user);
  const size_t n = size * count;
  if (sink->body.size() + n > kMaxReplyBytes) {
    if (!sink->cutLongReply) return 0;  // makes libcurl abort the transfer
    sink->body.append(data, kMaxReplyBytes - sink->body.size());
    sink->cut = true;
    return n;
  }
  sink->body.append(data, n);
  return n;
}

HttpOutcomeKind outcomeKind(CURLcode rc) {
  switch (rc) {
    case CURLE_OK:
      return HttpOutcomeKind::kReply;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
      return HttpOutcomeKind::kConnectFailed;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:  // also CURLE_SSL_CACERT
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
#if LIBCURL_VERSION_NUM >= 0x074d00
    case CURLE_SSL_CLIENTCERT:
#endif
      return HttpOutcomeKind::kTlsFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpOutcomeKind::kTimeout;
    default:
      // Connection closed or reset without a reply, a cut-off or oversized reply,
      // an unusable URL or scheme.
      return HttpOutcomeKind::kNoReply;
  }
}

}  // namespace

HttpDelivery::HttpDelivery(const TarvexOptions& options)
    : tls_(tlsFilesOf(options)),
      extraHeaders_(options.extraHeaders),
      keepAlive_(options.keepAlive != 0),
      cutLongReplies_(options.durable == 1) {}

CURL* HttpDelivery::handleForPost(CurlEasyPtr* fresh) {
  initCurlOnce();
  if (!keepAlive_) {
    fresh->reset(curl_easy_init());
    return fresh->get();
  }
  if (kept_ == nullptr) kept_.reset(curl_easy_init());
  return kept_.get();
}

std::string HttpDelivery::reasonText(const char* errorBuffer, int code) const {
  std::string text =
      errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(static_cast<CURLcode>(code));
  const std::string& key = tls_.keyFile;
  if (!key.empty()) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + std::strlen(kKeyPathMask))) {
      text.replace(at, key.size(), kKeyPathMask);
    }
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

int HttpDelivery::post(const std::string& url, const std::string& headers,
                       const std::string& body, std::string& reply, HttpOutcome* outcome) {
  HttpOutcome unused;
  HttpOutcome& result = outcome != nullptr ? *outcome : unused;
  result = HttpOutcome();
  if (!reply.empty()) return 1;  // the exchange counts as finished: send nothing

  char errorBuffer[CURL_ERROR_SIZE] = {0};  // outlives the handle that writes it
  CurlEasyPtr fresh;
  CURL* h = handleForPost(&fresh);
  if (h == nullptr) return 1;

  // The caller's lines, then the configured ones; libcurl's own defaults are
  // suppressed unless one of them names the header.
  std::vector<std::string> lines = splitHeaderLines(headers);
  lines.insert(lines.end(), extraHeaders_.begin(), extraHeaders_.end());
  CurlSlistPtr headerList;
  for (const std::string& line : lines) {
    if (!appendHeader(&headerList, line)) return 1;
  }
  for (const char* name : kSuppressedHeaders) {
    bool given = false;
    for (const std::string& line : lines) given = given || isHeader(line, name);
    if (!given && !appendHeader(&headerList, std::string(name) + ":")) return 1;
  }

  ReplySink sink;
  sink.cutLongReply = cutLongReplies_;
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  // http and https only; a URL without a scheme is taken as http. Any other
  // scheme fails before a connection is made.
  curl_easy_setopt(h, CURLOPT_DEFAULT_PROTOCOL, "http");
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
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
  if (!keepAlive_) curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);

  // TLS: always verified, whatever the options file says.
  setCurlTls(h, tls_);

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
  result.kind = outcomeKind(rc);
  if (rc == CURLE_OK) {
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    result.replyCut = sink.cut;
  } else {
    result.error = reasonText(errorBuffer, rc);
    curl_off_t sent = 0;
    if (rc == CURLE_OPERATION_TIMEDOUT &&
        curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK) {
      result.sendIncomplete = sent < static_cast<curl_off_t>(body.size());
    }
  }
  // The kept handle forgets every option (and so every pointer into this call)
  // but keeps its open connection for the next post.
  if (keepAlive_) curl_easy_reset(h);

  switch (result.kind) {
    case HttpOutcomeKind::kReply:
      // Any status: the body is the answer, exactly as received (may be empty).
      reply = std::move(sink.body);
      break;
    case HttpOutcomeKind::kConnectFailed:
      reply = kConnectFailedText;
      break;
    case HttpOutcomeKind::kTlsFailed:
      std::fprintf(stderr, "tarvex: TLS with the receiver failed: %s\n", result.error.c_str());
      result.reasonPrinted = true;
      break;
    case HttpOutcomeKind::kTimeout:
    case HttpOutcomeKind::kNoReply:
      // Nothing to hand back.
      break;
  }
  return 1;
}
