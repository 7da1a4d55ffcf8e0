// One parsed HTTP request and the parsing pieces the router uses.
#pragma once

#include <map>
#include <string>

#include "platform/sockets.h"

struct HttpRequest {
  platform::SocketHandle clientSocket = platform::kInvalidSocket;
  std::string versionText;  // the server's version, for the Server header
  std::string method;       // the request method token, trimmed
  // Ordered byte-wise by name; the first value of a name stays.
  std::map<std::string, std::string> headers;
  std::map<std::string, std::string> params;

  // Adds the pair unless name is already present.
  void AddParam(const std::string& name, const std::string& value);
  // The value of name, or the empty text.
  std::string GetParam(const std::string& name) const;
};

// Removes blanks, tabs, CR, LF, VT and FF at both ends.
std::string TrimText(const std::string& text);

// Fills request->headers from the text after the request line (which starts
// with that line's "\r\n") and returns the body: everything four bytes past
// the last header line end.
std::string ParseHeaders(HttpRequest* request, const std::string& rest);

// Adds the name=value pairs of an already decoded text, converted from UTF-8
// to the ANSI code page, to request->params.
void ParseParams(HttpRequest* request, const std::string& text);

// Percent and plus decoding; ends at the first zero byte it produces. A "%"
// without two characters after it is copied unchanged: nothing past the end
// of the input is ever read.
std::string UrlDecode(const std::string& text);

std::string Utf8ToAnsi(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
