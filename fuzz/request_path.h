// The path from received bytes to routed parameters, driven by one input:
// classification by the request reader, then parsing, signature check and
// routing, with a fake in place of the bridge. Shared by the libFuzzer
// target and the corpus replay test.
#pragma once

#include <string>

#include "http/request_reader.h"
#include "http/router.h"

inline void ExerciseRequestPath(const std::string& received) {
  ClassifyRequest(received);
  for (const char* key : {"", "k"}) {
    ApiAccess access{key, [](BridgeRequest request) {
                       return request.kind == &kWriteKind ? std::string("ok") : std::string("[]");
                     }};
    HttpResponse response(platform::kInvalidSocket, "1.0");
    AnswerRequestText(access, received, &response);
  }
  UrlDecode(received);
}
