// Reading one request off a connection: the head up to its empty line, then
// Content-Length body bytes, within a size cap and a time limit.
#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets.h"

constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// A head without its empty line is taken as it is once the peer has been
// silent this long (a hand-typed request never sends the empty line).
constexpr int kHeadSilenceMs = 1000;
// A request not complete this long after the accept is dropped unanswered.
constexpr int64_t kRequestLimitMs = 10000;

enum class RequestState { kHeadIncomplete, kBodyIncomplete, kComplete, kTooLarge };

// Where the bytes received so far stand.
RequestState ClassifyRequest(const std::string& received);

enum class ReadOutcome {
  kComplete,  // answer the text
  kTooLarge,  // answer {"code":400,"msg":"bad request"}
  kDrop,      // close without an answer
};

// Milliseconds of a steady clock, for the time limit.
int64_t SteadyMilliseconds();

// Receives into *text following the rules above.
ReadOutcome ReadRequest(platform::SocketHandle socket, int64_t acceptedAtMs, std::string* text);
