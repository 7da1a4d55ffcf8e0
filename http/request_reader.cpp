#include "http/request_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "common/text.h"

namespace {

// The declared body length of a head, 0 when absent or not a plain number;
// SIZE_MAX when it is a number too large to accept.
std::size_t DeclaredLength(const std::string& head) {
  std::size_t start = head.find("\r\n");
  while (start != std::string::npos) {
    start += 2;
    std::size_t end = head.find("\r\n", start);
    std::string line =
        head.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos &&
        EqualsIgnoringAsciiCase(TrimBlanks(line.substr(0, colon)), "content-length")) {
      std::string value = TrimBlanks(line.substr(colon + 1));
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return 0;
      if (value.size() > 7) return SIZE_MAX;
      return static_cast<std::size_t>(std::strtoul(value.c_str(), nullptr, 10));
    }
    start = end;
  }
  return 0;
}

}  // namespace

RequestState ClassifyRequest(const std::string& received) {
  if (received.size() > kMaxRequestBytes) return RequestState::kTooLarge;
  const std::size_t headEnd = received.find("\r\n\r\n");
  if (headEnd == std::string::npos) return RequestState::kHeadIncomplete;
  const std::size_t declared = DeclaredLength(received.substr(0, headEnd + 2));
  if (declared == SIZE_MAX || headEnd + 4 + declared > kMaxRequestBytes) {
    return RequestState::kTooLarge;
  }
  return received.size() >= headEnd + 4 + declared ? RequestState::kComplete
                                                   : RequestState::kBodyIncomplete;
}

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ReadOutcome ReadRequest(platform::SocketHandle socket, int64_t acceptedAtMs, std::string* text) {
  const int64_t deadline = acceptedAtMs + kRequestLimitMs;
  char chunk[16384];
  for (;;) {
    const RequestState state = ClassifyRequest(*text);
    if (state == RequestState::kComplete) return ReadOutcome::kComplete;
    if (state == RequestState::kTooLarge) return ReadOutcome::kTooLarge;
    const int64_t remaining = deadline - SteadyMilliseconds();
    if (remaining <= 0) return ReadOutcome::kDrop;
    // Silence only ends a head that has begun; a body is awaited to the limit.
    const bool silenceEnds = state == RequestState::kHeadIncomplete && !text->empty();
    const int64_t wait = silenceEnds ? std::min<int64_t>(kHeadSilenceMs, remaining) : remaining;
    std::size_t received = 0;
    switch (platform::ReceiveSome(socket, chunk, sizeof chunk, static_cast<int>(wait), &received)) {
      case platform::ReceiveStatus::kData:
        text->append(chunk, received);
        break;
      case platform::ReceiveStatus::kClosed:
        // The peer has said all it will: an unfinished head is taken as it
        // is, an unfinished body is never run truncated.
        return silenceEnds ? ReadOutcome::kComplete : ReadOutcome::kDrop;
      case platform::ReceiveStatus::kTimedOut:
        if (silenceEnds && wait == kHeadSilenceMs) return ReadOutcome::kComplete;
        break;
      case platform::ReceiveStatus::kFailed:
        return ReadOutcome::kDrop;
    }
  }
}
