// The outgoing HTTP request through libcurl.
#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/http_client.h"

namespace platform {
namespace {

// libcurl's global set-up is not thread-safe; it is done once, before the
// first handle of any thread.
std::once_flag curlGlobalOnce;

// One easy handle per calling thread, kept for the thread's life so that
// consecutive requests to the same host reuse its connection. Only the owning
// thread touches it.
struct ThreadHandle {
  CURL* handle = nullptr;
  ~ThreadHandle() {
    if (handle != nullptr) curl_easy_cleanup(handle);
  }
};

CURL* HandleOfThisThread() {
  std::call_once(curlGlobalOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  thread_local ThreadHandle cached;
  if (cached.handle == nullptr) {
    cached.handle = curl_easy_init();
  } else {
    curl_easy_reset(cached.handle);
  }
  return cached.handle;
}

// The body of the answer being read, kept only up to its limit.
struct AnswerBody {
  std::string text;
  std::size_t limit = 0;
  bool tooLarge = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  AnswerBody* body = static_cast<AnswerBody*>(target);
  const std::size_t bytes = size * count;
  if (bytes > body->limit - body->text.size()) {
    // A count other than the one handed in makes libcurl end the transfer.
    body->tooLarge = true;
    return 0;
  }
  body->text.append(data, bytes);
  return bytes;
}

// How many 307 and 308 answers in a row one request follows, as a browser
// would before it gives up on a loop.
constexpr int kMaxRedirects = 10;

bool KeepsTheMethod(long status) { return status == 307 || status == 308; }
bool TurnsIntoGet(long status) { return status == 301 || status == 302 || status == 303; }

// The failures of the secure channel: the handshake, the certificates and
// the TLS library's own set-up.
bool IsTlsFailure(CURLcode result) {
  switch (result) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return true;
    default:
      return false;
  }
}

// The operator's words for a transfer that failed with result; detail is
// libcurl's own account of it, when it gave one.
std::string FailureText(CURLcode result, const char* detail, bool tooLarge) {
  if (tooLarge || result == CURLE_FILESIZE_EXCEEDED) return kAnswerTooLarge;
  // Also a name that does not match the certificate: it is refused alike.
  if (result == CURLE_PEER_FAILED_VERIFICATION) return "TLS certificate not trusted";
  const std::string cause = detail[0] != '\0' ? detail : curl_easy_strerror(result);
  return IsTlsFailure(result) ? "TLS failed: " + cause : cause;
}

}  // namespace

HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const std::vector<HttpHeader>& headers,
                                const HttpRequestLimits& limits) {
  HttpExchange exchange;
  for (const HttpHeader& header : headers) {
    if (!IsSendableHeader(header)) {
      exchange.failure = "request header not sendable: " + Utf16ToUtf8(header.name);
      return exchange;
    }
  }
  CURL* curl = HandleOfThisThread();
  if (curl == nullptr) {
    exchange.failure = "the HTTP client could not start";
    return exchange;
  }

  const std::string url8 = Utf16ToUtf8(url);
  const std::string method8 = Utf16ToUtf8(method);
  const std::string body8 = Utf16ToUtf8(body);
  const std::string typeHeader = "Content-Type: " + Utf16ToUtf8(contentType);
  AnswerBody answer;
  answer.limit = static_cast<std::size_t>(std::max<int64_t>(limits.maxAnswerBytes, 0));

  std::vector<std::string> lines = {"charset: UTF-8", typeHeader};
  for (const HttpHeader& header : headers) {
    lines.push_back(Utf16ToUtf8(header.name) + ": " + Utf16ToUtf8(header.value));
  }
  // libcurl would otherwise announce "Expect: 100-continue" for larger
  // bodies and wait for an interim answer that simple receivers never send.
  lines.push_back("Expect:");
  curl_slist* headerList = nullptr;
  for (const std::string& line : lines) {
    curl_slist* more = curl_slist_append(headerList, line.c_str());
    if (more == nullptr) {
      curl_slist_free_all(headerList);
      exchange.failure = "out of memory for the request headers";
      return exchange;
    }
    headerList = more;
  }
  char detail[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMs));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  // An announced length over the limit fails before the first body byte
  // (0 would mean no limit; the write callback holds the line then).
  if (answer.limit > 0) {
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(answer.limit));
  }
  if (method8 == "POST" || !body8.empty()) {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body8.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body8.size()));
  }
  if (method8 != "POST" && method8 != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method8.c_str());
  }
  // The trusted certificates may be named by the environment
  // (CURL_CA_BUNDLE or SSL_CERT_FILE), as with the curl tool.
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE")) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, bundle);
  } else if (const char* file = std::getenv("SSL_CERT_FILE")) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, file);
  }

  // Redirects are followed here rather than by libcurl, which would turn the
  // POST into a GET after a 301, 302 or 303.
  std::string target = url8;
  for (int hop = 0;; ++hop) {
    answer.text.clear();
    detail[0] = '\0';
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
      // A connection was made (or a kept one carried the request): the host
      // was reached, and the answer is what failed (reset, closed, time
      // limit, too large). A secure channel that failed had a connection.
      long sent = 0;
      curl_off_t connectUs = 0;
      curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &sent);
      curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectUs);
      exchange.reached = sent > 0 || connectUs > 0 || IsTlsFailure(result);
      exchange.failure = FailureText(result, detail, answer.tooLarge);
      break;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    if (KeepsTheMethod(status) && location != nullptr && hop < kMaxRedirects) {
      target = location;
      continue;
    }
    exchange.reached = true;
    exchange.answered = status > 0;
    if (!exchange.answered) exchange.failure = "no status line in the answer";
    exchange.status = static_cast<int32_t>(status);
    // As the request object of the Windows build decodes its response text:
    // UTF-8, a byte-order mark in front kept as a character.
    exchange.responseText = Utf8ToUtf16(answer.text);
    if (TurnsIntoGet(status) && location != nullptr) exchange.location = Utf8ToUtf16(location);
    break;
  }
  // The handle keeps pointers to these until its next reset.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headerList);
  return exchange;
}

}  // namespace platform
