#include "http/router.h"

#include "common/text.h"
#include "common/text_helpers.h"

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

bool CheckSignature(const std::string& accessKey, const HttpRequest& request) {
  // Each check has its own entry-point record: several connection threads
  // check at once, and a shared record would be written by all of them.
  DigestFunctions digest;
  const std::string expected = Md5Hex(&digest, request.body + accessKey);
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

std::string RunApiOperation(const SubmitFunction& submit, const RequestKind& kind,
                            const std::string& group, const std::string& item,
                            const std::string& argument) {
  const std::string answer = submit(BridgeRequest{&kind, group, item, argument});
  return kind.envelope == AnswerEnvelope::kWrite ? WriteEnvelope(answer) : DataEnvelope(answer);
}

void RouteRequest(const ApiAccess& access, const HttpRequest& request, HttpResponse* response) {
  // With a key, the query may add to a signed body but never replace a part of it.
  if (!access.accessKey.empty() &&
      (request.queryAndBodyShareName || !CheckSignature(access.accessKey, request))) {
    response->SendAnswer(AnsiToUtf8(kAuthFailedBody));
    return;
  }
  const long code = ParseLeadingIntegerSaturating(request.GetParam("c"));
  if (code == kStatusCode && access.status) {
    response->SendAnswer(AnsiToUtf8(DataEnvelope(access.status())));
    return;
  }
  const RequestKind* kind = FindRequestKind(code);
  const std::string answer =
      kind == nullptr
          ? std::string(kOkBody)
          : RunApiOperation(access.submit, *kind, request.GetParam("group"),
                            request.GetParam("item"), request.GetParam(kind->argumentKey));
  response->SendAnswer(AnsiToUtf8(answer));
}

bool AnswerRequestText(const ApiAccess& access, const std::string& received,
                       HttpResponse* response) {
  HttpRequest request;
  if (!ParseRequest(received, &request)) return false;
  if (request.method == "GET") {
    response->SendAnswer(AnsiToUtf8(kBadRequestBody));
  } else {
    RouteRequest(access, request, response);
  }
  return true;
}
