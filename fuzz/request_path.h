// The path from received bytes to routed parameters, driven by one input:
// classification by the request reader, then parsing, signature check and
// routing, with a recorder in place of the bridge. Shared by the libFuzzer
// target and the corpus replay test.
#pragma once

#include <string>

#include "http/http_server.h"
#include "http/request_reader.h"

inline void ExerciseRequestPath(const std::string& received) {
  ClassifyRequest(received);
  for (const char* key : {"", "k"}) {
    HttpServer server("1.0", key, "127.0.0.1 10.0.0.0/8");
    server.submit = [](BridgeRequest request) {
      return RequestValue(request, "c") == "40" ? std::string("ok") : std::string("[]");
    };
    HttpRequest request;
    HttpResponse response(platform::kInvalidSocket, &request);
    AnswerRequestText(&server, received, &response, &request);
  }
  UrlDecode(received);
}
