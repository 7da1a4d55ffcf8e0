#include "http/http_server.h"

#include <algorithm>

#include "common/console_output.h"
#include "app/settings.h"
#include "common/process_paths.h"
#include "common/text_helpers.h"
#include "http/request_reader.h"
#include "http/router.h"
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

std::vector<AllowEntry> ParseAllowList(const std::string& allowList) {
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
    const std::size_t slash = entry.find('/');
    if (slash != std::string::npos) {
      addressText = entry.substr(0, slash);
      const std::string bits = entry.substr(slash + 1);
      if (bits.empty() || bits.size() > 2 ||
          bits.find_first_not_of("0123456789") != std::string::npos) {
        continue;
      }
      parsed.prefixBits = std::atoi(bits.c_str());
      if (parsed.prefixBits > 32) continue;
    }
    if (!ParseIpv4(addressText, &parsed.address)) continue;
    entries.push_back(parsed);
  }
  return entries;
}

HttpServer::HttpServer(std::string versionText, std::string accessKey, std::string allowList)
    : versionText(std::move(versionText)),
      accessKey(std::move(accessKey)),
      allowList(std::move(allowList)),
      submit(
          [](BridgeRequest request) { return ProcessBridge().SubmitAndWait(std::move(request)); }),
      allowEntries_(ParseAllowList(this->allowList)) {}

bool HttpServer::IsPeerAllowed(const std::string& peerAddress) const {
  if (TrimText(allowList).empty()) return true;
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

void HttpServer::HandOver(platform::SocketHandle socket, int64_t acceptedAtMs) {
  activeConnections_.fetch_add(1);
  {
    std::lock_guard<std::mutex> guard(slotMutex_);
    if (idleThreads_ > 0) {
      // Promised to one waiting thread, which takes it off handoffs_.
      --idleThreads_;
      handoffs_.push_back(Handoff{socket, acceptedAtMs});
      handoffReady_.notify_one();
      return;
    }
    ++threadCount_;
  }
  if (!platform::StartDetachedThread([this, socket, acceptedAtMs] {
        ConnectionThread(Handoff{socket, acceptedAtMs});
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
    HandleConnection(this, next.socket, next.acceptedAtMs);
    hold.lock();
    activeConnections_.fetch_sub(1);
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

bool HttpServer::Serve(int port, bool loopbackOnly) {
  if (!Listen(port, loopbackOnly)) return false;
  RunAcceptLoop();
  return true;
}

bool HttpServer::Listen(int port, bool loopbackOnly) {
  std::string error;
  if (!platform::StartNetworking(&error)) {
    PrintErrorLine("\nFailed to start http server!", false);
    return false;
  }
  listenSocket = platform::OpenListener(port, kListenBacklog, loopbackOnly, &error);
  if (listenSocket == platform::kInvalidSocket) {
    PrintErrorLine(FormatText("\nThe http server could not use port %d: %s", port, error.c_str()),
                   false);
    return false;
  }
  boundPort_.store(platform::LocalPort(listenSocket));
  PrintText(FormatText("\nThe http server started on port %d successfully!", port));
  return true;
}

void HttpServer::RunAcceptLoop() {

  // Admitted connections that have sent nothing yet wait here without a
  // thread, so idle peers cannot take the connection threads from real ones.
  struct Waiting {
    platform::SocketHandle socket;
    int64_t acceptedAtMs;
  };
  std::vector<Waiting> waiting;
  std::vector<platform::SocketHandle> watched;
  std::vector<bool> ready;
  const std::vector<platform::SocketHandle> listenOnly(1, listenSocket);
  std::vector<bool> listenReady;
  while (!stopRequested_.load()) {
    const bool slotFree = activeConnections_.load() < kMaxConnectionThreads;
    watched.assign(1, listenSocket);
    if (slotFree) {
      for (const Waiting& entry : waiting) watched.push_back(entry.socket);
    }
    if (platform::WaitReadable(watched, 100, &ready) < 0) {
      ready.assign(watched.size(), false);
    }
    const int64_t now = SteadyMilliseconds();
    // Take every connection the backlog already holds (up to a bound), so a
    // burst of connects costs one wait over the waiting sockets, not one
    // wait each: a flood of silent peers must not hold back a real request.
    for (int taken = 0; ready[0] && taken < kMaxAcceptsPerWait; ++taken) {
      if (taken > 0 &&
          (platform::WaitReadable(listenOnly, 0, &listenReady) <= 0 || !listenReady[0])) {
        break;
      }
      std::string peer;
      platform::SocketHandle accepted = platform::AcceptConnection(listenSocket, &peer);
      if (accepted == platform::kInvalidSocket) break;
      if (!IsPeerAllowed(peer)) {
        platform::CloseSocket(accepted);
        continue;
      }
      if (waiting.size() >= kMaxWaitingConnections) {
        platform::CloseSocket(waiting.front().socket);
        waiting.erase(waiting.begin());
        if (ready.size() > 1) ready.erase(ready.begin() + 1);
      }
      waiting.push_back(Waiting{accepted, now});
    }
    // Hand over the connections whose bytes have arrived, oldest first.
    std::vector<Waiting> still;
    still.reserve(waiting.size());
    for (std::size_t i = 0; i < waiting.size(); ++i) {
      const bool hasBytes = slotFree && i + 1 < ready.size() && ready[i + 1];
      if (hasBytes && activeConnections_.load() < kMaxConnectionThreads) {
        HandOver(waiting[i].socket, waiting[i].acceptedAtMs);
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
  platform::CloseSocket(listenSocket);
  listenSocket = platform::kInvalidSocket;
}

bool AnswerRequestText(HttpServer* server, const std::string& received, HttpResponse* response,
                       HttpRequest* request) {
  const std::string text = received.substr(0, received.find('\0'));
  const std::size_t n = text.find(" /");
  const std::size_t g = text.find(" HTTP/");
  if (n == std::string::npos || n == 0 || g == std::string::npos || g == 0) return false;
  request->versionText = server->versionText;
  request->method = TrimText(text.substr(0, n));
  if (request->method == "GET") {
    response->SendAnswer(AnsiToUtf8(kBadRequestBody));
    return true;
  }
  const std::size_t e = text.find("\r\n");
  const std::string requestLine = e == std::string::npos ? std::string() : text.substr(0, e);
  const std::string rest = e == std::string::npos ? text : text.substr(e);
  const std::size_t q = requestLine.find('?');
  if (q != std::string::npos && q >= 1) {
    const std::string query = g < q ? std::string() : TrimText(requestLine.substr(q + 1, g - q));
    ParseParams(request, UrlDecode(query));
  }
  RouteRequest(server, request, response, rest);
  return true;
}

void HandleConnection(HttpServer* server, platform::SocketHandle socket, int64_t acceptedAtMs) {
  std::string text;
  const ReadOutcome outcome = ReadRequest(socket, acceptedAtMs, &text);
  HttpRequest request;
  request.clientSocket = socket;
  request.versionText = server->versionText;
  HttpResponse response(socket, &request);
  if (outcome == ReadOutcome::kTooLarge) {
    response.SendAnswer(AnsiToUtf8(kBadRequestBody));
  } else if (outcome == ReadOutcome::kComplete && !text.empty()) {
    AnswerRequestText(server, text, &response, &request);
  }
  platform::CloseSocket(socket);
}

int StartHttpServer() {
  const int port = agentSettings.port;
  if (port <= 0) return 0;
  if (port > 65535) {
    PrintErrorLine(FormatText("\nThe http port %d is out of range (1 to 65535); the http server "
                              "is not started.",
                              port),
                   false);
    return 0;
  }
  // Lives until the process ends: connection threads may still use it.
  HttpServer* server = new HttpServer(kAgentVersion, agentSettings.key, agentSettings.allowip);
  server->Serve(port);
  return 0;
}
