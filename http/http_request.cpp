#include "http/http_request.h"

#include "common/text.h"
#include "common/utf.h"
#include "platform/codepage.h"

void HttpRequest::AddParam(const std::string& name, const std::string& value) {
  params.emplace(name, value);
}

std::string HttpRequest::GetParam(const std::string& name) const {
  auto found = params.find(name);
  return found == params.end() ? std::string() : found->second;
}

namespace {

// Fills request->headers from the text after the request line (which starts
// with that line's "\r\n") and returns the body: everything four bytes past
// the last header line end. Without an empty line the body is the tail of the
// last line, as clients of the agent have always seen.
std::string ParseHeaders(HttpRequest* request, const std::string& rest) {
  std::size_t p = 0;
  for (;;) {
    const std::size_t s = p + 2;
    const std::size_t o = s > rest.size() ? std::string::npos : rest.find("\r\n", s);
    if (o == std::string::npos) break;
    const std::string line = rest.substr(s, o - s);
    if (line.empty()) break;
    const std::size_t k = line.find(':');
    if (k != std::string::npos && k >= 1) {
      request->headers.emplace(TrimBlanks(line.substr(0, k)), TrimBlanks(line.substr(k + 1)));
    }
    p = o;
  }
  return p + 4 <= rest.size() ? rest.substr(p + 4) : std::string();
}

}  // namespace

bool ParseRequest(const std::string& received, HttpRequest* request) {
  const std::string text = received.substr(0, received.find('\0'));
  const std::size_t n = text.find(" /");
  const std::size_t g = text.find(" HTTP/");
  if (n == std::string::npos || n == 0 || g == std::string::npos || g == 0) return false;
  request->method = TrimBlanks(text.substr(0, n));
  const std::size_t e = text.find("\r\n");
  const std::string requestLine = e == std::string::npos ? std::string() : text.substr(0, e);
  const std::string rest = e == std::string::npos ? text : text.substr(e);
  const std::size_t q = requestLine.find('?');
  if (q != std::string::npos && q >= 1) {
    // Up to and including the blank before "HTTP/", trimmed.
    const std::string query = g < q ? std::string() : TrimBlanks(requestLine.substr(q + 1, g - q));
    ParseParams(request, UrlDecode(query));
  }
  request->body = ParseHeaders(request, rest);
  HttpRequest fromBody;
  ParseParams(&fromBody, UrlDecode(request->body));
  for (const auto& param : fromBody.params) {
    if (request->params.count(param.first) != 0) {
      request->queryAndBodyShareName = true;
    } else {
      request->params.emplace(param);
    }
  }
  return true;
}

void ParseParams(HttpRequest* request, const std::string& text) {
  if (text.empty()) return;
  const std::string converted = Utf8ToAnsi(text);
  auto addSegment = [request](const std::string& segment) {
    const std::size_t q = segment.find('=');
    if (q == std::string::npos) {
      request->AddParam(std::string(), segment);
    } else {
      request->AddParam(segment.substr(0, q), segment.substr(q + 1));
    }
  };
  const std::size_t a = converted.find('&');
  if (a == std::string::npos || a == 0) {
    addSegment(converted);
    return;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t next = converted.find('&', start);
    if (next == std::string::npos) {
      if (start < converted.size()) addSegment(converted.substr(start));
      break;
    }
    addSegment(converted.substr(start, next - start));
    start = next + 1;
  }
}

namespace {

int HexValue(unsigned char ch) {
  // Deliberately lenient arithmetic: non-hex characters decode to some value
  // rather than being rejected, as clients of the agent have always seen.
  return ch <= '9' ? (ch - 48) & 15 : (ch - 55) & 15;
}

}  // namespace

std::string UrlDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size; ++i) {
    const char ch = text[i];
    if (ch == '%' && i + 2 < size) {
      const int value = 16 * HexValue(static_cast<unsigned char>(text[i + 1])) +
                        HexValue(static_cast<unsigned char>(text[i + 2]));
      out.push_back(static_cast<char>(value));
      i += 2;
    } else if (ch == '+') {
      out.push_back(' ');
    } else {
      out.push_back(ch);
    }
  }
  const std::size_t zero = out.find('\0');
  if (zero != std::string::npos) out.resize(zero);
  return out;
}

std::string Utf8ToAnsi(const std::string& text) { return platform::Utf16ToAnsi(Utf8ToUtf16(text)); }

std::string AnsiToUtf8(const std::string& text) { return Utf16ToUtf8(platform::AnsiToUtf16(text)); }
