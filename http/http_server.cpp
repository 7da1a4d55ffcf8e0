#include "http/http_server.h"

#include <algorithm>

#include "common/console_output.h"
#include "common/text.h"
#include "common/text_helpers.h"
#include "http/request_reader.h"
#include "platform/thread.h"

bool ParseIpv4(const std::string& text, uint32_t* address) {
  uint32_t value = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    uint32_t part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0 || digits > 3 || part > 255) return false;
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  *address = value;
  return true;
}

std::vector<AllowEntry> ParseAllowList(const std::string& allowList,
                                       std::vector<std::string>* malformed) {
  std::vector<AllowEntry> entries;
  std::size_t start = 0;
  while (start <= allowList.size()) {
    std::size_t end = allowList.find_first_of(",; \t\r\n", start);
    if (end == std::string::npos) end = allowList.size();
    const std::string entry = allowList.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    AllowEntry parsed;
    std::string addressText = entry;
    bool valid = true;
    const std::size_t slash = entry.find('/');
    if (slash != std::string::npos) {
      addressText = entry.substr(0, slash);
      const std::string bits = entry.substr(slash + 1);
      valid = !bits.empty() && bits.size() <= 2 &&
              bits.find_first_not_of("0123456789") == std::string::npos;
      if (valid) parsed.prefixBits = std::atoi(bits.c_str());
      valid = valid && parsed.prefixBits <= 32;
    }
    if (valid && ParseIpv4(addressText, &parsed.address)) {
      entries.push_back(parsed);
    } else if (malformed != nullptr) {
      malformed->push_back(entry);
    }
  }
  return entries;
}

namespace {

// The router's status function: the agent's report, told how many
// connections the server is answering at that moment.
StatusFunction StatusOf(const HttpSettings& settings, const HttpServer* server) {
  if (!settings.statusReport) return StatusFunction();
  auto report = settings.statusReport;
  return [report, server] { return report(server->ActiveConnections()); };
}

}  // namespace

HttpServer::HttpServer(HttpSettings settings, SubmitFunction submit, platform::Env* env)
    : settings_(std::move(settings)),
      access_{settings_.accessKey, std::move(submit), StatusOf(settings_, this), env,
              &signatureLines_},
      env_(env),
      allowEntries_(ParseAllowList(settings_.allowList)) {}

bool HttpServer::IsPeerAllowed(const std::string& peerAddress) const {
  if (TrimBlanks(settings_.allowList).empty()) return true;
  uint32_t peer = 0;
  if (!ParseIpv4(peerAddress, &peer)) return false;
  for (const AllowEntry& entry : allowEntries_) {
    const uint32_t mask = entry.prefixBits == 0 ? 0 : 0xFFFFFFFFu << (32 - entry.prefixBits);
    if ((peer & mask) == (entry.address & mask)) return true;
  }
  return false;
}

HttpServer::~HttpServer() {
  std::unique_lock<std::mutex> hold(slotMutex_);
  destroying_ = true;
  handoffReady_.notify_all();
  slotFreed_.wait(hold, [this] { return activeConnections_.load() == 0 && threadCount_ == 0; });
}

int HttpServer::ConnectionThreads() {
  std::lock_guard<std::mutex> guard(slotMutex_);
  return threadCount_;
}

bool HttpServer::AwaitNoActiveConnections(int64_t timeoutMs) {
  std::unique_lock<std::mutex> hold(slotMutex_);
  return slotFreed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [this] { return activeConnections_.load() == 0; });
}

bool HttpServer::AwaitEndedConnections(uint64_t count, int64_t timeoutMs) {
  std::unique_lock<std::mutex> hold(slotMutex_);
  return slotFreed_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                             [this, count] { return endedConnections_ >= count; });
}

void HttpServer::HandOver(platform::SocketHandle socket, int64_t acceptedAtMs,
                          const std::string& peer) {
  activeConnections_.fetch_add(1);
  {
    std::lock_guard<std::mutex> guard(slotMutex_);
    if (idleThreads_ > 0) {
      // Promised to one waiting thread, which takes it off handoffs_.
      --idleThreads_;
      handoffs_.push_back(Handoff{socket, acceptedAtMs, peer});
      handoffReady_.notify_one();
      return;
    }
    ++threadCount_;
  }
  if (!platform::StartDetachedThread([this, socket, acceptedAtMs, peer] {
        ConnectionThread(Handoff{socket, acceptedAtMs, peer});
      })) {
    // No thread to be had: the connection is closed and the loop goes on.
    platform::CloseSocket(socket);
    std::lock_guard<std::mutex> guard(slotMutex_);
    --threadCount_;
    activeConnections_.fetch_sub(1);
    slotFreed_.notify_all();
  }
}

void HttpServer::ConnectionThread(Handoff next) {
  std::unique_lock<std::mutex> hold(slotMutex_, std::defer_lock);
  for (;;) {
    HandleConnection(next.socket, next.acceptedAtMs, next.peer);
    hold.lock();
    activeConnections_.fetch_sub(1);
    ++endedConnections_;
    slotFreed_.notify_all();
    ++idleThreads_;
    handoffReady_.wait_for(hold, std::chrono::milliseconds(kConnectionThreadIdleMs),
                           [this] { return !handoffs_.empty() || destroying_; });
    if (handoffs_.empty()) break;
    // HandOver already took this thread off idleThreads_.
    next = handoffs_.front();
    handoffs_.pop_front();
    hold.unlock();
  }
  --idleThreads_;
  --threadCount_;
  // Signalled under the lock: once a waiter holds the lock again, this
  // thread no longer touches the server.
  slotFreed_.notify_all();
}

void HttpServer::RequestStop() {
  stopRequested_.store(true);
  std::lock_guard<std::mutex> guard(slotMutex_);
  slotFreed_.notify_all();
}

namespace {

bool StartNetworkingOrSay(platform::Env* env) {
  std::string error;
  if (platform::StartNetworking(&error)) return true;
  PrintErrorLine(env, "\nFailed to start http server!", false);
  PrintText(env, "\n" + error);
  return false;
}

}  // namespace

bool HttpServer::Serve() {
  if (!StartNetworkingOrSay(env_)) return false;
  // The port may be held by another program (or an agent that is ending):
  // the API comes up as soon as it is free, without a restart.
  std::string lastCause;
  while (!Bind(&lastCause)) {
    std::unique_lock<std::mutex> guard(slotMutex_);
    if (slotFreed_.wait_for(guard, std::chrono::milliseconds(settings_.listenRetryMs),
                            [this] { return stopRequested_.load(); })) {
      return false;
    }
  }
  RunAcceptLoop();
  return true;
}

bool HttpServer::Listen() {
  std::string lastCause;
  return StartNetworkingOrSay(env_) && Bind(&lastCause);
}

bool HttpServer::Bind(std::string* lastCause) {
  const int port = settings_.port;
  std::string error;
  bindAttempts_.fetch_add(1);
  listenSocket_ = platform::OpenListener(port, kListenBacklog, settings_.loopbackOnly, &error);
  if (listenSocket_ == platform::kInvalidSocket) {
    if (error != *lastCause) {
      const int64_t retry = settings_.listenRetryMs;
      PrintErrorLine(env_,
                     FormatText("\nThe http server could not use port %d: %s; it tries again "
                                "every %lld %s.",
                                port, error.c_str(),
                                static_cast<long long>(retry % 1000 == 0 ? retry / 1000 : retry),
                                retry % 1000 == 0 ? "s" : "ms"),
                     false);
      *lastCause = error;
    }
    return false;
  }
  boundPort_.store(platform::LocalPort(listenSocket_));
  PrintText(env_, FormatText("\nThe http server started on port %d successfully!", port));
  return true;
}

std::size_t WaitingConnectionLimit(int descriptorLimit) {
  if (descriptorLimit <= 0) return kMaxWaitingConnections;
  const int64_t room = int64_t{descriptorLimit} - kMaxConnectionThreads - kDescriptorReserve;
  if (room < static_cast<int64_t>(kMinWaitingConnections)) return kMinWaitingConnections;
  return std::min<std::size_t>(static_cast<std::size_t>(room), kMaxWaitingConnections);
}

void HttpServer::ReportListenerFailure(const std::string& cause, int64_t nowMs) {
  // Once a minute at most: a failure that lasts (no descriptor left) is
  // retried ten times a second.
  if (lastFailureLineMs_ != 0 && nowMs - lastFailureLineMs_ < kFailureLineIntervalMs) return;
  lastFailureLineMs_ = nowMs;
  PrintErrorLine(env_, "\nThe http server cannot accept connections: " + cause, false);
}

void HttpServer::RunAcceptLoop() {
  // Admitted connections that have sent nothing yet wait here without a
  // thread, so idle peers cannot take the connection threads from real ones.
  struct Waiting {
    platform::SocketHandle socket;
    int64_t acceptedAtMs;
    std::string peer;
  };
  std::vector<Waiting> waiting;
  std::vector<platform::SocketHandle> watched;
  std::vector<bool> ready;
  const std::vector<platform::SocketHandle> listenOnly(1, listenSocket_);
  std::vector<bool> listenReady;
  // The descriptor limit can be changed from outside while the agent runs;
  // it is looked at again every second.
  std::size_t waitingLimit = kMaxWaitingConnections;
  int64_t limitReadAtMs = 0;
  bool limitRead = false;
  // After a failed accept the listening socket is left alone until then: it
  // stays readable while the failure lasts, and retrying at once would spin.
  int64_t acceptPausedUntilMs = 0;
  std::string error;
  while (!stopRequested_.load()) {
    const int64_t before = SteadyMilliseconds();
    if (!limitRead || before - limitReadAtMs >= 1000) {
      waitingLimit = WaitingConnectionLimit(platform::DescriptorLimit());
      limitReadAtMs = before;
      limitRead = true;
    }
    const bool slotFree = activeConnections_.load() < kMaxConnectionThreads;
    const bool listening = before >= acceptPausedUntilMs;
    watched.clear();
    if (listening) watched.push_back(listenSocket_);
    // ready[first + i] belongs to waiting[i], when the waiting sockets are watched.
    const std::size_t first = watched.size();
    if (slotFree) {
      for (const Waiting& entry : waiting) watched.push_back(entry.socket);
    }
    const int64_t waitMs = listening ? 100 : std::min<int64_t>(100, acceptPausedUntilMs - before);
    if (platform::WaitReadable(watched, static_cast<int>(waitMs), &ready, &error) < 0) {
      ReportListenerFailure(error, before);
      ready.assign(watched.size(), false);
      acceptPausedUntilMs = before + kAcceptPauseMs;
      std::unique_lock<std::mutex> guard(slotMutex_);
      slotFreed_.wait_for(guard, std::chrono::milliseconds(kAcceptPauseMs),
                          [this] { return stopRequested_.load(); });
    }
    const int64_t now = SteadyMilliseconds();
    // Take every connection the backlog already holds (up to a bound), so a
    // burst of connects costs one wait over the waiting sockets, not one
    // wait each: a flood of silent peers must not hold back a real request.
    const bool listenerReady = listening && !ready.empty() && ready[0];
    for (int taken = 0; listenerReady && taken < kMaxAcceptsPerWait; ++taken) {
      if (taken > 0 &&
          (platform::WaitReadable(listenOnly, 0, &listenReady) <= 0 || !listenReady[0])) {
        break;
      }
      std::string peer;
      platform::SocketHandle accepted = platform::AcceptConnection(listenSocket_, &peer, &error);
      if (accepted == platform::kInvalidSocket) {
        ReportListenerFailure(error, now);
        acceptPausedUntilMs = now + kAcceptPauseMs;
        break;
      }
      if (!IsPeerAllowed(peer)) {
        // Told before the close, so that a peer seeing the close finds the line.
        ReportRefusedPeer(peer);
        platform::CloseSocket(accepted);
        continue;
      }
      // The oldest waiting connections make room, so that the sockets kept
      // stay below the descriptor limit with room for files and uploads.
      while (!waiting.empty() && waiting.size() >= waitingLimit) {
        platform::CloseSocket(waiting.front().socket);
        waiting.erase(waiting.begin());
        if (ready.size() > first) ready.erase(ready.begin() + static_cast<std::ptrdiff_t>(first));
      }
      waiting.push_back(Waiting{accepted, now, peer});
    }
    // Hand over the connections whose bytes have arrived, oldest first.
    std::vector<Waiting> still;
    still.reserve(waiting.size());
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      const bool hasBytes = slotFree && first + i < ready.size() && ready[first + i];
      if (hasBytes && activeConnections_.load() < kMaxConnectionThreads) {
        HandOver(waiting[i].socket, waiting[i].acceptedAtMs, waiting[i].peer);
      } else if (now - waiting[i].acceptedAtMs > kRequestLimitMs) {
        platform::CloseSocket(waiting[i].socket);
      } else {
        still.push_back(waiting[i]);
      }
    }
    waiting.swap(still);
    if (!slotFree) {
      std::unique_lock<std::mutex> guard(slotMutex_);
      slotFreed_.wait_for(guard, std::chrono::milliseconds(20),
                          [this] { return activeConnections_.load() < kMaxConnectionThreads; });
    }
  }
  for (const Waiting& entry : waiting) platform::CloseSocket(entry.socket);
  platform::CloseSocket(listenSocket_);
  listenSocket_ = platform::kInvalidSocket;
}

void HttpServer::ReportRefusedPeer(const std::string& peer) {
  uint64_t count = 0;
  if (!refusedPeerLines_.Note(peer, env_->MonotonicNanoseconds() / 1000000, &count)) return;
  const std::string shown = LoggedText(peer);
  PrintErrorLine(env_,
                 count == 1 ? "\nRefused a connection from " + shown + ": not in allowip."
                            : FormatText("\nRefused %llu connections from %s since the last line "
                                         "about it: not in allowip.",
                                         static_cast<unsigned long long>(count), shown.c_str()),
                 false);
}

void HttpServer::HandleConnection(platform::SocketHandle socket, int64_t acceptedAtMs,
                                  const std::string& peer) {
  std::string text;
  const ReadOutcome outcome = ReadRequest(socket, acceptedAtMs, &text);
  HttpResponse response(socket, settings_.versionText);
  response.sendLimitMs = settings_.answerSendLimitMs;
  if (outcome == ReadOutcome::kTooLarge) {
    response.SendAnswer(AnsiToUtf8(kBadRequestBody));
  } else if (outcome == ReadOutcome::kComplete && !text.empty()) {
    AnswerRequestText(access_, text, &response, peer);
  }
  platform::CloseSocket(socket);
}

void ReportAllowListProblems(const std::string& allowList, platform::Env* env) {
  std::vector<std::string> malformed;
  const bool anyValid = !ParseAllowList(allowList, &malformed).empty();
  for (const std::string& entry : malformed) {
    PrintErrorLine(env,
                   "\nThe allowip entry \"" + entry +
                       "\" is neither an IPv4 address nor address/bits; it is left out.",
                   false);
  }
  if (!anyValid && !malformed.empty()) {
    PrintErrorLine(env, "\nThe allowip setting holds no valid entry: no peer is admitted.", false);
  }
}

void ServeHttpApi(const HttpSettings& settings, SubmitFunction submit, platform::Env* env) {
  if (settings.port <= 0) return;
  if (settings.port > 65535) {
    PrintErrorLine(env,
                   FormatText("\nThe http port %d is out of range (1 to 65535); the http server "
                              "is not started.",
                              settings.port),
                   false);
    return;
  }
  ReportAllowListProblems(settings.allowList, env);
  HttpServer* server = new HttpServer(settings, std::move(submit), env);
  server->Serve();
}
