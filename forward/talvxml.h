// The agent's outgoing HTTP client: one request to a full URL per call.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/http_client.h"

// Used only by the uploader's thread, but safe from any thread: the
// operations keep no state (each call builds and releases all it needs).
// Never throws; failures come back as an absent object or the empty text.
class TALVXML {
 public:
  virtual ~TALVXML() = default;

  // Sends method to url with the body (8-bit text in the system code page,
  // sent as UTF-8) and the headers "charset: UTF-8" and "Content-Type:
  // contentType" ("application/x-www-form-urlencoded" when contentType is
  // empty). Returns the completed exchange, owned by the caller, when the
  // server answered with status 200; nothing otherwise.
  static std::unique_ptr<platform::HttpExchange> SendRequest(const std::string& url,
                                                             const std::string& method,
                                                             const std::string& body,
                                                             const std::string& contentType);

  // SendRequest with "application/json"; the response text in the system
  // code page, or the empty text when there is no status-200 answer.
  static std::string RequestText(const std::string& url, const std::string& method,
                                 const std::string& body);

  // Header name and value, 8-bit text in the system code page.
  using Header = std::pair<std::string, std::string>;

  // The whole outcome of one request, whatever its status, so that a caller
  // can tell "no answer at all" from "an answer other than the one wanted".
  // headers go out beside charset and Content-Type. The request goes out
  // through env.
  static platform::HttpExchange Exchange(
      const std::string& url, const std::string& method, const std::string& body,
      const std::string& contentType, const std::vector<Header>& headers = {},
      const platform::HttpRequestLimits& limits = platform::HttpRequestLimits(),
      platform::Env* env = platform::Env::Default());
};
