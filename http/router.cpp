#include "http/router.h"

#include "common/console_output.h"
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

std::string LoggedText(const std::string& text) { return ShownOnOneLine(text, 400); }

namespace {

std::string PeerName(const std::string& peer) { return peer.empty() ? "an unknown peer" : peer; }

// Every write reaches a device: who asked for which values, and what came of it.
void ReportWrite(const ApiAccess& access, const std::string& peer, const std::string& group,
                 const std::string& item, const std::string& tagValues, const std::string& answer) {
  if (access.env == nullptr) return;
  std::string line = "\nAPI write from " + PeerName(peer) + ": group \"" + LoggedText(group) + "\"";
  if (!item.empty()) line += ", item \"" + LoggedText(item) + "\"";
  line += ", tags and values \"" + LoggedText(tagValues) + "\": " + LoggedText(answer);
  if (answer == "ok") {
    PrintGoodLine(access.env, line, false);
  } else {
    PrintErrorLine(access.env, line, false);
  }
}

void ReportFailedSignature(const ApiAccess& access, const HttpRequest& request) {
  if (access.env == nullptr || access.signatureLines == nullptr) return;
  uint64_t count = 0;
  const int64_t nowMs = access.env->MonotonicNanoseconds() / 1000000;
  if (!access.signatureLines->Note(request.peer, nowMs, &count)) return;
  const std::string peer = PeerName(request.peer);
  PrintErrorLine(access.env,
                 count == 1 ? "\nA request from " + peer + " failed its signature check."
                            : FormatText("\n%llu requests from %s failed their signature check "
                                         "since the last line about it.",
                                         static_cast<unsigned long long>(count), peer.c_str()),
                 false);
}

}  // namespace

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

void RouteRequest(const ApiAccess& access, const HttpRequest& request, HttpResponse* response) {
  // With a key, the query may add to a signed body but never replace a part of it.
  if (!access.accessKey.empty() &&
      (request.queryAndBodyShareName || !CheckSignature(access.accessKey, request))) {
    ReportFailedSignature(access, request);
    response->SendAnswer(AnsiToUtf8(kAuthFailedBody));
    return;
  }
  const long code = ParseLeadingIntegerSaturating(request.GetParam("c"));
  if (code == kStatusCode && access.status) {
    response->SendAnswer(AnsiToUtf8(DataEnvelope(access.status())));
    return;
  }
  const RequestKind* kind = FindRequestKind(code);
  if (kind == nullptr) {
    response->SendAnswer(AnsiToUtf8(kOkBody));
    return;
  }
  const std::string group = request.GetParam("group");
  const std::string item = request.GetParam("item");
  const std::string argument = request.GetParam(kind->argumentKey);
  const std::string answer = access.submit(BridgeRequest{kind, group, item, argument});
  if (kind->envelope == AnswerEnvelope::kWrite) {
    ReportWrite(access, request.peer, group, item, argument, answer);
    response->SendAnswer(AnsiToUtf8(WriteEnvelope(answer)));
  } else {
    response->SendAnswer(AnsiToUtf8(DataEnvelope(answer)));
  }
}

bool AnswerRequestText(const ApiAccess& access, const std::string& received, HttpResponse* response,
                       const std::string& peer) {
  HttpRequest request;
  if (!ParseRequest(received, &request)) return false;
  request.peer = peer;
  if (request.method == "GET") {
    response->SendAnswer(AnsiToUtf8(kBadRequestBody));
  } else {
    RouteRequest(access, request, response);
  }
  return true;
}
