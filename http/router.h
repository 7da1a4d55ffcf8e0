// Routing by the parameter c, the signature check and the API operations.
#pragma once

#include <functional>
#include <string>

#include "bridge/request_bridge.h"
#include "http/http_request.h"
#include "http/http_response.h"

class HttpServer;

// Reads headers and body, checks the signature when the server has a key,
// adds the body's parameters, dispatches on c and sends one answer. The
// caller closes the socket.
void RouteRequest(HttpServer* server, HttpRequest* request, HttpResponse* response,
                  const std::string& rest);

// True when the request's sign header holds the MD5 digest of body + key
// (either letter case). False whenever the digest cannot be computed.
bool CheckSignature(const HttpServer& server, const HttpRequest& request, const std::string& body);

// True when a and b are equal, taking the same time for any two texts of
// one length.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

using SubmitFunction = std::function<std::string(BridgeRequest)>;

// The three API operations: build the bridge request, wait, wrap the answer.
std::string ApiReadTags(const SubmitFunction& submit, const std::string& group,
                        const std::string& item, const std::string& tags);
std::string ApiWriteTags(const SubmitFunction& submit, const std::string& group,
                         const std::string& item, const std::string& tagkvs);
std::string ApiBrowseTags(const SubmitFunction& submit, const std::string& group,
                          const std::string& item, const std::string& filters);

// The envelopes of the API.
std::string DataEnvelope(const std::string& answer);   // read and list
std::string WriteEnvelope(const std::string& answer);  // write
std::string FailureEnvelope(const std::string& msg);   // {"code":201,"msg":...}

constexpr char kBadRequestBody[] = "{\"code\":400,\"msg\":\"bad request\"}";
constexpr char kAuthFailedBody[] = "{\"code\":401,\"msg\":\"Auth failed\"}";
constexpr char kOkBody[] = "{\"code\":200,\"msg\":\"ok\"}";
