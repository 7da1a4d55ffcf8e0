#include "http/http_response.h"

#include "common/text_helpers.h"

namespace {

struct StatusEntry {
  int code;
  const char* reason;
};

constexpr StatusEntry kStatusReasonTable[] = {
    {100, "Continue"},
    {101, "Switching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {203, "Non-Authoritative Information"},
    {204, "No Content"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multiple Choices"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {306, "Unused"},
    {307, "Temporary Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Requested Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
};

}  // namespace

std::string StatusReason(int status) {
  for (const StatusEntry& entry : kStatusReasonTable) {
    if (entry.code == status) return entry.reason;
  }
  return std::string();
}

std::string HttpResponse::BuildHeaders(int statusCode, std::size_t bodyLength) {
  if (headersSent) return std::string();
  std::string head = FormatText("HTTP/1.0 %d %s\r\nServer:TALVERO AGENT/%s\r\n", statusCode,
                                StatusReason(statusCode).c_str(),
                                versionText.c_str());
  auto type = headers.find("Content-Type");
  if (type == headers.end() || type->second.empty()) {
    headers["Content-Type"] = contentType + ";charset=" + charset;
  }
  if (bodyLength >= 1) headers["Content-length"] = std::to_string(bodyLength);
  for (const auto& entry : headers) head += entry.first + ":" + entry.second + "\r\n";
  head += "\r\n";
  headersSent = true;
  return head;
}

void HttpResponse::SendAnswer(const std::string& body) {
  const std::string text = BuildHeaders(status, body.size()) + body;
  sentText += text;
  if (clientSocket != platform::kInvalidSocket) platform::SendAll(clientSocket, text, sendLimitMs);
}
