// One outgoing HTTP request to a full URL, waited for until it completes.
//
// Texts cross this interface as UTF-16; the implementation sends the body in
// UTF-8 and decodes the response text as UTF-8. Each call builds and releases
// everything it needs and keeps no state between calls except what the
// platform caches per thread (a reusable connection on POSIX, the COM
// apartment on Windows), so calls from different threads never interfere.
// Failures are reported in the result only, never by exceptions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct HttpRequestLimits {
  int32_t connectMs = 10000;  // establishing the connection (where the platform can tell)
  int32_t totalMs = 60000;    // the whole request, from start to the last byte of the answer
  // The most body bytes an answer may have. A receiver's answer is a word
  // or two; one that goes on (a stream, a page, a body without end) fails
  // the exchange instead of filling the memory.
  int64_t maxAnswerBytes = 64 * 1024;
};

// A header line the caller adds to a request. Neither part may hold a line
// break, nor the name a colon; a request with such a header is not sent.
struct HttpHeader {
  std::u16string name;
  std::u16string value;
};

struct HttpExchange {
  // True when the server sent a complete answer with a status line; false
  // when the host was unreachable, refused or reset the connection, the URL
  // was unusable, or a limit passed.
  bool answered = false;
  // True when the request reached the host: a connection to it was made,
  // whether or not an answer came back. False when the host could not be
  // reached at all (name not resolved, connection refused, connect time
  // limit, unusable URL).
  bool reached = false;
  int32_t status = 0;  // the HTTP status of the answer, 0 when not answered
  // The answer's body decoded from UTF-8; a byte-order mark in front stays
  // as the character U+FEFF, as the earlier MSXML client kept it.
  std::u16string responseText;
  // The new location named by a redirect that was not followed (301, 302,
  // 303: following them would turn the POST into a GET); empty otherwise.
  std::u16string location;
  // Why there is no complete answer, for the operator; empty when answered.
  // "answer too large" when the body passed maxAnswerBytes, "TLS certificate
  // not trusted" when the server's certificate was refused, "TLS failed:
  // <cause>" for another failure of the secure channel, and otherwise the
  // platform's own words for what went wrong.
  std::string failure;
};

// Sends method to url with the headers "charset: UTF-8", "Content-Type:
// contentType" and those of headers, and body encoded as UTF-8, and waits for
// the answer within limits. A 307 or 308 answer is followed with the same
// method, headers and body; a 301, 302 or 303 is not, and comes back as the
// answer with its location. The caller owns the result.
HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const std::vector<HttpHeader>& headers,
                                const HttpRequestLimits& limits);

// True when header can go on the wire as one line of its own.
bool IsSendableHeader(const HttpHeader& header);

// The failure text of an answer whose body passed maxAnswerBytes.
extern const char kAnswerTooLarge[];

// True when exchange failed in the secure channel ("TLS certificate not
// trusted", "TLS failed: ..."): no request went out, and every other request
// to the same host would fail alike.
bool IsSecureChannelFailure(const HttpExchange& exchange);

}  // namespace platform
