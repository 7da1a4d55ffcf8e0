// The outgoing HTTP request through libcurl.
#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <string>

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

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// How many 307 and 308 answers in a row one request follows, as a browser
// would before it gives up on a loop.
constexpr int kMaxRedirects = 10;

bool KeepsTheMethod(long status) { return status == 307 || status == 308; }
bool TurnsIntoGet(long status) { return status == 301 || status == 302 || status == 303; }

}  // namespace

HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const HttpRequestLimits& limits) {
  HttpExchange exchange;
  CURL* curl = HandleOfThisThread();
  if (curl == nullptr) return exchange;

  const std::string url8 = Utf16ToUtf8(url);
  const std::string method8 = Utf16ToUtf8(method);
  const std::string body8 = Utf16ToUtf8(body);
  const std::string typeHeader = "Content-Type: " + Utf16ToUtf8(contentType);
  std::string answer;

  curl_slist* headers = curl_slist_append(nullptr, "charset: UTF-8");
  if (headers != nullptr) {
    curl_slist* more = curl_slist_append(headers, typeHeader.c_str());
    if (more != nullptr) headers = more;
    // libcurl would otherwise announce "Expect: 100-continue" for larger
    // bodies and wait for an interim answer that simple receivers never send.
    more = curl_slist_append(headers, "Expect:");
    if (more != nullptr) headers = more;
  }

  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectMs));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.totalMs));
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
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
    answer.clear();
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    CURLcode result = curl_easy_perform(curl);
    if (result != CURLE_OK) {
      // A connection was made (or a kept one carried the request): the host
      // was reached, and the answer is what failed (reset, closed, time limit).
      long sent = 0;
      curl_off_t connectUs = 0;
      curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &sent);
      curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectUs);
      exchange.reached = sent > 0 || connectUs > 0;
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
    exchange.status = static_cast<int32_t>(status);
    // As the request object of the Windows build decodes its response text:
    // UTF-8, a byte-order mark in front kept as a character.
    exchange.responseText = Utf8ToUtf16(answer);
    if (TurnsIntoGet(status) && location != nullptr) exchange.location = Utf8ToUtf16(location);
    break;
  }
  // The handle keeps pointers to these until its next reset.
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  return exchange;
}

}  // namespace platform
