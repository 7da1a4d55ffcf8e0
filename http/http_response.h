// One answer under construction: HTTP/1.0 head and body, sent in one piece.
#pragma once

#include <map>
#include <string>

#include "platform/sockets.h"

// The reason phrase of a status code; empty for codes outside the table.
std::string StatusReason(int status);

// The time an answer may take to leave: the request's own limit.
constexpr int kAnswerSendLimitMs = 10000;

class HttpResponse {
 public:
  // versionText names the agent's version in the Server header.
  HttpResponse(platform::SocketHandle socket, std::string versionText)
      : clientSocket(socket), versionText(std::move(versionText)) {}

  // The head for status and a body of bodyLength bytes, or the empty text
  // once the head has been produced.
  std::string BuildHeaders(int statusCode, std::size_t bodyLength);

  // Sends head (the first time) and body, already UTF-8, in one send of at
  // most sendLimitMs. A failed or unfinished send goes unreported: the caller
  // closes the connection anyway.
  void SendAnswer(const std::string& body);

  platform::SocketHandle clientSocket;
  const std::string versionText;
  bool headersSent = false;
  std::string contentType = "text/html";
  std::string charset = "UTF-8";
  int status = 200;
  // A peer that does not read its answer holds the connection no longer.
  int sendLimitMs = kAnswerSendLimitMs;
  std::map<std::string, std::string> headers;
  // Everything SendAnswer has passed to the socket, kept for callers that
  // answer without a socket (tests, the fuzz target).
  std::string sentText;
};
