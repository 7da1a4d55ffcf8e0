// The HTTP API server: listener, allow list, connection threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/request_bridge.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "platform/sockets.h"

// At most this many connection threads run at once; further connections
// wait, without a thread, until their bytes arrive and a thread is free.
constexpr int kMaxConnectionThreads = 64;
// Admitted connections that have not sent anything yet; the oldest is closed
// when more arrive.
constexpr std::size_t kMaxWaitingConnections = 1024;
// Pending connections the system may hold before the listener accepts them.
constexpr int kListenBacklog = 128;

// One IPv4 range of the allow list: address and prefix length.
struct AllowEntry {
  uint32_t address = 0;
  int prefixBits = 32;
};

// Parses dotted-decimal IPv4 text (four numbers 0 to 255, nothing else).
bool ParseIpv4(const std::string& text, uint32_t* address);

// The entries of an allow list: separated by ",", ";" or blanks, each an
// address or address/bits. Entries that are neither are left out.
std::vector<AllowEntry> ParseAllowList(const std::string& allowList);

class HttpServer {
 public:
  HttpServer(std::string versionText, std::string accessKey, std::string allowList);
  // Waits for the connection threads to finish (the agent never destroys its server).
  ~HttpServer();

  // Binds, listens and runs the accept loop until RequestStop (never, in the
  // agent). Returns false, having printed why, when it could not start.
  bool Serve(int port, bool loopbackOnly = false);

  // True when the peer's dotted-decimal address may connect.
  bool IsPeerAllowed(const std::string& peerAddress) const;

  // Ends the accept loop within about 100 ms (tests). Any thread.
  void RequestStop() { stopRequested_.store(true); }
  // The port Serve listens on, 0 until it does. Any thread.
  int BoundPort() const { return boundPort_.load(); }
  int ActiveConnections() const { return activeConnections_.load(); }

  // Read-only after construction: connection threads read them without a lock.
  const std::string versionText;
  const std::string accessKey;
  const std::string allowList;
  // Hands a request to the OPC worker and waits for the answer: by default
  // the process-wide bridge; tests put a fake here before serving.
  std::function<std::string(BridgeRequest)> submit;
  platform::SocketHandle listenSocket = platform::kInvalidSocket;

 private:
  void StartConnectionThread(platform::SocketHandle socket, int64_t acceptedAtMs);

  const std::vector<AllowEntry> allowEntries_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> boundPort_{0};
  std::atomic<int> activeConnections_{0};
  // slotMutex_ guards nothing but the wait for slotFreed_, signalled when a
  // connection thread ends.
  std::mutex slotMutex_;
  std::condition_variable slotFreed_;
};

// The listener thread's entry: returns 0 at once when the port is 0 or
// negative, refuses a port above 65535 with a console line, else serves.
int StartHttpServer();

// Reads one request from socket (see request_reader.h), answers it and closes
// the socket. acceptedAtMs is the steady-clock time of the accept.
void HandleConnection(HttpServer* server, platform::SocketHandle socket, int64_t acceptedAtMs);

// Answers one complete request text through response as HandleConnection
// does once the bytes are in; false when the text is closed unanswered.
bool AnswerRequestText(HttpServer* server, const std::string& received, HttpResponse* response,
                       HttpRequest* request);
