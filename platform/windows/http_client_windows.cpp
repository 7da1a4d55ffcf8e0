// The outgoing HTTP request through WinInet, the system's HTTP client.
//
// MSXML's request object, which sits on the same client, follows every
// redirect by itself and cannot be told not to: a 301, 302 or 303 turns the
// upload's POST into a GET (whose "OK" would delete a file never delivered),
// and Wine's follows a 307 without its body and a 308 not at all. Here the
// request is made with automatic redirects off, and a 307 or 308 is followed
// with the same POST, headers and body, exactly as the Linux build does.
#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "common/utf.h"
#include "platform/http_client.h"

namespace platform {
namespace {

// How many 307 and 308 answers in a row one request follows.
constexpr int kMaxRedirects = 10;

bool KeepsTheMethod(DWORD status) { return status == 307 || status == 308; }
bool TurnsIntoGet(DWORD status) { return status == 301 || status == 302 || status == 303; }

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A WinInet handle closed when the scope ends.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// What the status callback saw of one request.
struct RequestProgress {
  bool connected = false;  // a connection to the host was made
};

void CALLBACK NoteStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status == INTERNET_STATUS_CONNECTED_TO_SERVER && context != 0) {
    reinterpret_cast<RequestProgress*>(context)->connected = true;
  }
}

// One header of the answer as text; empty when absent.
std::u16string HeaderText(HINTERNET request, DWORD query) {
  DWORD bytes = 0;
  HttpQueryInfoW(request, query, nullptr, &bytes, nullptr);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::u16string();
  std::u16string text(bytes / sizeof(char16_t) + 1, u'\0');
  if (!HttpQueryInfoW(request, query, &text[0], &bytes, nullptr)) return std::u16string();
  text.resize(bytes / sizeof(char16_t));
  return text;
}

// location resolved against the URL it answered.
std::u16string ResolveLocation(const std::u16string& base, const std::u16string& location) {
  DWORD length = 0;
  InternetCombineUrlW(Wide(base), Wide(location), nullptr, &length, ICU_NO_ENCODE);
  if (length == 0) return location;
  std::u16string combined(length + 1, u'\0');
  if (!InternetCombineUrlW(Wide(base), Wide(location), reinterpret_cast<wchar_t*>(&combined[0]),
                           &length, ICU_NO_ENCODE)) {
    return location;
  }
  combined.resize(length);
  return combined;
}

// "Authorization: Basic ..." from the user and password of url (decoded from
// their %XX escapes), sent with the first request as libcurl sends it.
std::u16string BasicAuthorization(const std::u16string& url) {
  wchar_t user[256] = {};
  wchar_t password[256] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszUserName = user;
  parts.dwUserNameLength = ARRAYSIZE(user);
  parts.lpszPassword = password;
  parts.dwPasswordLength = ARRAYSIZE(password);
  if (!InternetCrackUrlW(Wide(url), 0, ICU_DECODE, &parts)) return std::u16string();
  const std::string pair = Utf16ToUtf8(reinterpret_cast<const char16_t*>(user)) + ":" +
                           Utf16ToUtf8(reinterpret_cast<const char16_t*>(password));
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::u16string encoded;
  for (std::size_t i = 0; i < pair.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(pair[i]) << 16;
    if (i + 1 < pair.size()) group |= static_cast<unsigned char>(pair[i + 1]) << 8;
    if (i + 2 < pair.size()) group |= static_cast<unsigned char>(pair[i + 2]);
    encoded += kDigits[(group >> 18) & 63];
    encoded += kDigits[(group >> 12) & 63];
    encoded += i + 1 < pair.size() ? kDigits[(group >> 6) & 63] : '=';
    encoded += i + 2 < pair.size() ? kDigits[group & 63] : '=';
  }
  return u"Authorization: Basic " + encoded + u"\r\n";
}

// The certificate errors: the server's certificate was refused.
bool IsCertificateError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
      return true;
    default:
      return false;
  }
}

// The other failures of the secure channel.
bool IsSecureChannelError(DWORD error) {
  return error == ERROR_INTERNET_SECURITY_CHANNEL_ERROR ||
         error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED ||
         error == ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP;
}

// WinInet's words for error (its messages live in wininet.dll, not in the
// system's table), or the number when it has none.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                GetModuleHandleW(L"wininet.dll"), error, 0,
                                reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (length > 0 && text != nullptr) {
    words = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), length));
  }
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words.empty() ? "WinInet error " + std::to_string(error) : words;
}

// The operator's words for the failed call that set error.
std::string FailureText(DWORD error) {
  if (IsCertificateError(error)) return "TLS certificate not trusted";
  if (IsSecureChannelError(error)) return "TLS failed: " + ErrorText(error);
  return ErrorText(error);
}

// What one request to one URL gave.
struct Attempt {
  bool connected = false;
  bool answered = false;
  DWORD status = 0;
  std::string body;
  std::u16string location;  // resolved, when the answer named one
  std::string failure;      // why there is no answer
};

Attempt RequestOnce(HINTERNET session, const std::u16string& url, const std::u16string& method,
                    const std::u16string& headers, std::string& body,
                    const HttpRequestLimits& limits) {
  Attempt attempt;
  wchar_t host[256] = {};
  wchar_t user[256] = {};
  wchar_t password[256] = {};
  wchar_t path[4096] = {};
  wchar_t extra[4096] = {};
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUserName = user;
  parts.dwUserNameLength = ARRAYSIZE(user);
  parts.lpszPassword = password;
  parts.dwPasswordLength = ARRAYSIZE(password);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = ARRAYSIZE(extra);
  if (!InternetCrackUrlW(Wide(url), 0, 0, &parts)) {
    attempt.failure = "URL not usable";
    return attempt;
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    attempt.failure = "URL scheme not supported";
    return attempt;
  }
  InternetHandle connection(
      InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (connection.get() == nullptr) {
    attempt.failure = FailureText(GetLastError());
    return attempt;
  }
  DWORD flags = INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD |
                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  const std::wstring object = std::wstring(path) + extra;
  RequestProgress progress;
  InternetHandle request(HttpOpenRequestW(connection.get(), Wide(method), object.c_str(), nullptr,
                                          nullptr, nullptr, flags,
                                          reinterpret_cast<DWORD_PTR>(&progress)));
  if (request.get() == nullptr) {
    attempt.failure = FailureText(GetLastError());
    return attempt;
  }
  // Set on the request itself: not every WinInet takes them from the session.
  DWORD totalMs = static_cast<DWORD>(limits.totalMs);
  InternetSetOptionW(request.get(), INTERNET_OPTION_SEND_TIMEOUT, &totalMs, sizeof totalMs);
  InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &totalMs, sizeof totalMs);
  InternetSetStatusCallbackW(request.get(), NoteStatus);
  std::u16string allHeaders = headers;
  if (user[0] != 0) allHeaders += BasicAuthorization(url);
  const BOOL sent =
      HttpSendRequestW(request.get(), Wide(allHeaders), static_cast<DWORD>(allHeaders.size()),
                       body.empty() ? nullptr : &body[0], static_cast<DWORD>(body.size()));
  attempt.connected = progress.connected;
  if (!sent) {
    const DWORD error = GetLastError();
    attempt.failure = FailureText(error);
    // A certificate is refused only over a connection that was made.
    if (IsCertificateError(error) || IsSecureChannelError(error)) attempt.connected = true;
    return attempt;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr)) {
    attempt.failure = FailureText(GetLastError());
    return attempt;
  }
  attempt.connected = true;
  // A connection closed without a status line is taken by WinInet for an
  // old-style answer without headers; it is no answer.
  if (HeaderText(request.get(), HTTP_QUERY_RAW_HEADERS_CRLF).rfind(u"HTTP/1.", 0) != 0) {
    attempt.failure = "no status line in the answer";
    return attempt;
  }
  // Read up to one byte past the limit: a body that reaches it is too large,
  // and what follows is not kept. (Wine's WinInet reads and drops the rest
  // that is already arriving when the handle closes; memory stays flat.)
  const std::size_t limit =
      static_cast<std::size_t>(limits.maxAnswerBytes > 0 ? limits.maxAnswerBytes : 0);
  char buffer[16384];
  for (;;) {
    const std::size_t room = limit + 1 - attempt.body.size();
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer,
                          static_cast<DWORD>(room < sizeof buffer ? room : sizeof buffer), &got)) {
      attempt.failure = FailureText(GetLastError());
      return attempt;
    }
    if (got == 0) break;
    attempt.body.append(buffer, got);
    if (attempt.body.size() > limit) {
      attempt.body.clear();
      attempt.failure = kAnswerTooLarge;
      return attempt;
    }
  }
  attempt.answered = true;
  attempt.status = status;
  const std::u16string location = HeaderText(request.get(), HTTP_QUERY_LOCATION);
  if (!location.empty()) attempt.location = ResolveLocation(url, location);
  return attempt;
}

}  // namespace

HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const std::vector<HttpHeader>& headers,
                                const HttpRequestLimits& limits) {
  HttpExchange exchange;
  std::u16string lines = u"charset: UTF-8\r\nContent-Type: " + contentType + u"\r\n";
  for (const HttpHeader& header : headers) {
    if (!IsSendableHeader(header)) {
      exchange.failure = "request header not sendable: " + Utf16ToUtf8(header.name);
      return exchange;
    }
    lines += header.name + u": " + header.value + u"\r\n";
  }
  InternetHandle session(
      InternetOpenW(L"TALVERO AGENT", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) {
    exchange.failure = FailureText(GetLastError());
    return exchange;
  }
  DWORD connectMs = static_cast<DWORD>(limits.connectMs);
  InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);

  std::string body8 = Utf16ToUtf8(body);
  std::u16string target = url;
  for (int hop = 0;; ++hop) {
    Attempt attempt = RequestOnce(session.get(), target, method, lines, body8, limits);
    if (attempt.answered && KeepsTheMethod(attempt.status) && !attempt.location.empty() &&
        hop < kMaxRedirects) {
      target = attempt.location;
      continue;
    }
    exchange.reached = attempt.connected;
    exchange.answered = attempt.answered;
    exchange.failure = attempt.failure;
    if (attempt.answered) {
      exchange.status = static_cast<int32_t>(attempt.status);
      // Decoded as the request object decodes its response text: UTF-8, a
      // byte-order mark in front kept as a character.
      exchange.responseText = Utf8ToUtf16(attempt.body);
      if (TurnsIntoGet(attempt.status)) exchange.location = attempt.location;
    }
    return exchange;
  }
}

}  // namespace platform
