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

namespace platform {

struct HttpRequestLimits {
  int32_t connectMs = 10000;  // establishing the connection (where the platform can tell)
  int32_t totalMs = 60000;    // the whole request, from start to the last byte of the answer
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
  // as the character U+FEFF, as MSXML's responseText keeps it.
  std::u16string responseText;
  // The new location named by a redirect that was not followed (301, 302,
  // 303: following them would turn the POST into a GET); empty otherwise.
  std::u16string location;
  std::string failure;  // why no complete answer came, in words; empty when one came
};

// Sends method to url with the headers "charset: UTF-8" and "Content-Type:
// contentType" and body encoded as UTF-8, and waits for the answer within
// limits. A 307 or 308 answer is followed with the same method, headers and
// body; a 301, 302 or 303 is not, and comes back as the answer with its
// location. The caller owns the result.
HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                const std::u16string& body, const std::u16string& contentType,
                                const HttpRequestLimits& limits);

}  // namespace platform
