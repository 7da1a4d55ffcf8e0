#include "http/router.h"

#include <climits>
#include <cstdlib>

#include "common/text_helpers.h"
#include "http/http_server.h"

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

bool CheckSignature(const HttpServer& server, const HttpRequest& request, const std::string& body) {
  // Each check has its own entry-point record: several connection threads
  // check at once, and a shared record would be written by all of them.
  DigestFunctions digest;
  const std::string expected = Md5Hex(&digest, body + server.accessKey);
  if (expected.empty()) return false;
  auto found = request.headers.find("sign");
  std::string sign = found == request.headers.end() ? std::string() : found->second;
  for (char& ch : sign) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return ConstantTimeEquals(expected, sign);
}

std::string FailureEnvelope(const std::string& msg) {
  return "{\"code\":201,\"msg\":\"" + JsonEscape(msg) + "\"}";
}

std::string DataEnvelope(const std::string& answer) {
  if (!answer.empty() && (answer[0] == '[' || answer[0] == '{')) {
    return "{\"code\":200,\"data\":" + answer + "}";
  }
  return FailureEnvelope(answer);
}

std::string WriteEnvelope(const std::string& answer) {
  if (answer == "ok") return "{\"code\":200,\"data\":\"ok\"}";
  return FailureEnvelope(answer);
}

namespace {

std::string Submit(const SubmitFunction& submit, const char* kind, const std::string& group,
                   const std::string& item, const char* thirdKey, const std::string& third) {
  BridgeRequest request;
  request["c"] = kind;
  request["group"] = group;
  request["item"] = item;
  request[thirdKey] = third;
  return submit(std::move(request));
}

// The decimal value of text as atoi reads it, kept within int without the
// overflow atoi leaves undefined.
long ParamInteger(const std::string& text) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT_MAX || value < INT_MIN) return 0;
  return static_cast<long>(value);
}

}  // namespace

std::string ApiReadTags(const SubmitFunction& submit, const std::string& group,
                        const std::string& item, const std::string& tags) {
  return DataEnvelope(Submit(submit, "30", group, item, "tags", tags));
}

std::string ApiWriteTags(const SubmitFunction& submit, const std::string& group,
                         const std::string& item, const std::string& tagkvs) {
  return WriteEnvelope(Submit(submit, "40", group, item, "tagkvs", tagkvs));
}

std::string ApiBrowseTags(const SubmitFunction& submit, const std::string& group,
                          const std::string& item, const std::string& filters) {
  return DataEnvelope(Submit(submit, "50", group, item, "filters", filters));
}

void RouteRequest(HttpServer* server, HttpRequest* request, HttpResponse* response,
                  const std::string& rest) {
  const std::string body = ParseHeaders(request, rest);
  if (!server->accessKey.empty() && !CheckSignature(*server, *request, body)) {
    response->SendAnswer(AnsiToUtf8(kAuthFailedBody));
    return;
  }
  ParseParams(request, UrlDecode(body));
  const long kind = ParamInteger(request->GetParam("c"));
  const std::string group = request->GetParam("group");
  const std::string item = request->GetParam("item");
  std::string answer;
  if (kind == 30) {
    answer = ApiReadTags(server->submit, group, item, request->GetParam("tags"));
  } else if (kind == 40) {
    answer = ApiWriteTags(server->submit, group, item, request->GetParam("tagkvs"));
  } else if (kind == 50) {
    answer = ApiBrowseTags(server->submit, group, item, request->GetParam("filters"));
  } else {
    answer = kOkBody;
  }
  response->SendAnswer(AnsiToUtf8(answer));
}
