#include "forward/talvxml.h"

#include "platform/codepage.h"

platform::HttpExchange TALVXML::Exchange(const std::string& url, const std::string& method,
                                         const std::string& body, const std::string& contentType,
                                         const std::vector<Header>& headers,
                                         const platform::HttpRequestLimits& limits,
                                         platform::Env* env) {
  const std::string type =
      contentType.empty() ? std::string("application/x-www-form-urlencoded") : contentType;
  std::vector<platform::HttpHeader> wide;
  for (const Header& header : headers) {
    wide.push_back({platform::AnsiToUtf16(header.first), platform::AnsiToUtf16(header.second)});
  }
  return env->PerformHttpRequest(platform::AnsiToUtf16(url), platform::AnsiToUtf16(method),
                                 platform::AnsiToUtf16(body), platform::AnsiToUtf16(type), wide,
                                 limits);
}

std::unique_ptr<platform::HttpExchange> TALVXML::SendRequest(const std::string& url,
                                                             const std::string& method,
                                                             const std::string& body,
                                                             const std::string& contentType) {
  platform::HttpExchange exchange = Exchange(url, method, body, contentType);
  if (!exchange.answered || exchange.status != 200) return nullptr;
  return std::make_unique<platform::HttpExchange>(std::move(exchange));
}

std::string TALVXML::RequestText(const std::string& url, const std::string& method,
                                 const std::string& body) {
  std::unique_ptr<platform::HttpExchange> reply =
      SendRequest(url, method, body, "application/json");
  if (!reply) return std::string();
  return platform::Utf16ToAnsi(reply->responseText);
}
