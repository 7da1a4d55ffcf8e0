// Routing by the parameter c, the signature check and the API operations.
#pragma once

#include <functional>
#include <string>

#include "bridge/request_kinds.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "http/peer_line_limit.h"
#include "platform/env.h"

// Hands a request to the OPC worker and waits for its answer text.
using SubmitFunction = std::function<std::string(BridgeRequest)>;

// The agent's health as a JSON object, answered to the status request on the
// connection's own thread: it never waits for the OPC worker or the session.
using StatusFunction = std::function<std::string()>;

// The status request's code: answered by the router itself, outside the
// table of the OPC worker's kinds.
constexpr long kStatusCode = 60;

// What the router needs of its server: the shared key (empty: requests are
// not signed), the way to the OPC worker and, when set, the agent's status.
// With env, every write is logged with its peer, tags, values and outcome,
// and failed signatures once a minute per peer through signatureLines.
struct ApiAccess {
  std::string accessKey;
  SubmitFunction submit;
  StatusFunction status = nullptr;
  platform::Env* env = nullptr;
  PeerLineLimit* signatureLines = nullptr;
};

// Answers one complete request text through response: "GET" is refused,
// everything else routed. False when the text is no request and is closed
// unanswered. The caller closes the socket.
bool AnswerRequestText(const ApiAccess& access, const std::string& received, HttpResponse* response,
                       const std::string& peer = std::string());

// Checks the signature when there is a key, dispatches on c through the table
// of request kinds and sends one answer.
void RouteRequest(const ApiAccess& access, const HttpRequest& request, HttpResponse* response);

// True when the request's sign header holds the MD5 digest of its body + key
// (either letter case). False whenever the digest cannot be computed.
bool CheckSignature(const std::string& accessKey, const HttpRequest& request);

// A peer's text as a log line shows it: control bytes (a forged line break,
// a terminal's escape) become '?', and a long text is cut.
std::string LoggedText(const std::string& text);

// True when a and b are equal, taking the same time for any two texts of
// one length.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

// The envelopes of the API.
std::string DataEnvelope(const std::string& answer);   // read and list
std::string WriteEnvelope(const std::string& answer);  // write
std::string FailureEnvelope(const std::string& msg);   // {"code":201,"msg":...}

constexpr char kBadRequestBody[] = "{\"code\":400,\"msg\":\"bad request\"}";
constexpr char kAuthFailedBody[] = "{\"code\":401,\"msg\":\"Auth failed\"}";
constexpr char kOkBody[] = "{\"code\":200,\"msg\":\"ok\"}";
