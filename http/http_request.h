// One request as the API reads it, and the one place that parses it.
#pragma once

#include <map>
#include <string>

struct HttpRequest {
  std::string method;  // the request method token, trimmed
  // Ordered byte-wise by name; the first value of a name stays.
  std::map<std::string, std::string> headers;
  // The query's parameters first, then the body's.
  std::map<std::string, std::string> params;
  // The body exactly as received: what a signature covers.
  std::string body;
  // True when a parameter is named both in the query and in the body. The
  // query is not signed, so with a key such a request could change what a
  // signed body asks for.
  bool queryAndBodyShareName = false;
  // The dotted-decimal address of the peer that sent it, for the log.
  std::string peer;

  // Adds the pair unless name is already present.
  void AddParam(const std::string& name, const std::string& value);
  // The value of name, or the empty text.
  std::string GetParam(const std::string& name) const;
};

// Parses the received text, up to its first zero byte, into *request: the
// method and query of the request line, the headers, the body and the body's
// parameters. False, with *request unspecified, when the text has no " /"
// and " HTTP/" after its first byte: such a text is closed unanswered.
bool ParseRequest(const std::string& received, HttpRequest* request);

// Percent and plus decoding; ends at the first zero byte it produces. A "%"
// without two characters after it is copied unchanged: nothing past the end
// of the input is ever read.
std::string UrlDecode(const std::string& text);

// Adds the name=value pairs of an already decoded text, converted from UTF-8
// to the ANSI code page, to request->params.
void ParseParams(HttpRequest* request, const std::string& text);

std::string Utf8ToAnsi(const std::string& text);
std::string AnsiToUtf8(const std::string& text);
