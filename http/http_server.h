// The HTTP API server: listener, allow list, connection threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/request_bridge.h"
#include "http/peer_line_limit.h"
#include "http/router.h"
#include "platform/env.h"
#include "platform/sockets.h"

// At most this many connection threads run at once; further connections
// wait, without a thread, until their bytes arrive and a thread is free.
constexpr int kMaxConnectionThreads = 64;
// A connection thread that has answered its connection waits this long for
// the next one before it ends: starting a thread (and mapping its stack)
// costs more than answering a request, so a busy server keeps its threads.
constexpr int64_t kConnectionThreadIdleMs = 5000;
// Admitted connections that have not sent anything yet; the oldest is closed
// when more arrive. Fewer where the descriptor limit is lower: see
// WaitingConnectionLimit.
constexpr std::size_t kMaxWaitingConnections = 1024;
constexpr std::size_t kMinWaitingConnections = 8;
// Descriptors kept free beside the connection threads' sockets, for spool
// files, uploads, the OPC side and the standard streams.
constexpr int kDescriptorReserve = 64;
// How long the listener leaves its socket alone after a failed accept.
constexpr int64_t kAcceptPauseMs = 100;
// A lasting listener failure is printed at most this often.
constexpr int64_t kFailureLineIntervalMs = 60000;
// Connections taken off the listen backlog between two waits on the sockets.
constexpr int kMaxAcceptsPerWait = 256;
// Pending connections the system may hold before the listener accepts them.
constexpr int kListenBacklog = 128;
// A port that cannot be bound (another program listens on it) is tried again
// this often, for as long as the agent runs.
constexpr int64_t kListenRetryMs = 10000;

// The bridge answers Busy while connection threads are still free, so a
// request that is not for the OPC server is answered even then.
static_assert(kBridgeQueueLimit < static_cast<std::size_t>(kMaxConnectionThreads),
              "the bridge's queue must be full before the connection threads are taken");

// What the listener is handed by the agent.
struct HttpSettings {
  int port = 0;               // 0 or less: no listener
  bool loopbackOnly = false;  // bind 127.0.0.1 instead of every interface (tests)
  std::string versionText;    // the agent's version, for the Server header
  std::string accessKey;      // empty: requests are not signed
  std::string allowList;      // empty: every peer is admitted
  // The agent's status as a JSON object, given the number of connections
  // being answered; unset answers the status request like any unknown code.
  // Called on connection threads, several at a time.
  std::function<std::string(int activeConnections)> statusReport;
  // An answer not sent by then closes its connection (a peer that does not read).
  int answerSendLimitMs = kAnswerSendLimitMs;
  // How long Serve waits before it tries a port it could not bind again.
  int64_t listenRetryMs = kListenRetryMs;
};

// One IPv4 range of the allow list: address and prefix length.
struct AllowEntry {
  uint32_t address = 0;
  int prefixBits = 32;
};

// How many silent connections may wait under a descriptor limit (0: none):
// the limit less the connection threads and the reserve, within the bounds above.
std::size_t WaitingConnectionLimit(int descriptorLimit);

// Parses dotted-decimal IPv4 text (four numbers 0 to 255, nothing else).
bool ParseIpv4(const std::string& text, uint32_t* address);

// The entries of an allow list: separated by ",", ";" or blanks, each an
// address or address/bits. Entries that are neither are left out, and added
// to *malformed when it is given.
std::vector<AllowEntry> ParseAllowList(const std::string& allowList,
                                       std::vector<std::string>* malformed = nullptr);

// Prints one line for each entry of allowList that ParseAllowList leaves
// out, and one more when no entry is left: then no peer can connect.
void ReportAllowListProblems(const std::string& allowList, platform::Env* env);

class HttpServer {
 public:
  // submit carries API requests to the OPC worker; env takes the console
  // lines and must outlive the server.
  HttpServer(HttpSettings settings, SubmitFunction submit, platform::Env* env);
  // Waits for the connection threads to finish their connections and end
  // (the agent never destroys its server).
  ~HttpServer();

  // Binds, listens and runs the accept loop until RequestStop (never, in the
  // agent). A port it cannot bind is tried again every listenRetryMs, the
  // failure told once per cause and the banner printed once it listens.
  // Returns false, having printed why, when networking cannot start or a
  // stop came before the port could be bound.
  bool Serve();
  // The two halves of Serve, each once: Listen binds and prints the banner
  // (false, having printed why, on failure); RunAcceptLoop serves until
  // RequestStop.
  bool Listen();
  void RunAcceptLoop();

  // True when the peer's dotted-decimal address may connect.
  bool IsPeerAllowed(const std::string& peerAddress) const;

  // Ends the accept loop within about 100 ms, or the wait to bind again
  // (tests). Any thread.
  void RequestStop();
  // The port Serve listens on, 0 until it does. Any thread.
  int BoundPort() const { return boundPort_.load(); }
  // Attempts to bind made so far. Any thread.
  int BindAttempts() const { return bindAttempts_.load(); }
  // Connections handed to a connection thread and not yet closed. Any thread.
  int ActiveConnections() const { return activeConnections_.load(); }
  // Connection threads alive, busy or waiting for a connection. Any thread.
  int ConnectionThreads();
  // Waits until no connection is active; false when timeoutMs passed first.
  // Any thread.
  bool AwaitNoActiveConnections(int64_t timeoutMs);
  // Waits until count connections handed to a thread have ended; false when
  // timeoutMs passed first. Any thread.
  bool AwaitEndedConnections(uint64_t count, int64_t timeoutMs);

  // Reads one request from socket (see request_reader.h), answers it and
  // closes the socket. acceptedAtMs is the steady-clock time of the accept.
  // peer is the address it came from, for the log.
  void HandleConnection(platform::SocketHandle socket, int64_t acceptedAtMs,
                        const std::string& peer = std::string());

 private:
  struct Handoff {
    platform::SocketHandle socket;
    int64_t acceptedAtMs;
    std::string peer;
  };
  // Tells of a peer the allow list keeps out, once a minute per address.
  void ReportRefusedPeer(const std::string& peer);
  // Prints a failure of the accept loop with its cause (listener thread only).
  void ReportListenerFailure(const std::string& cause, int64_t nowMs);
  // One attempt to bind and listen, networking started: true with the
  // banner printed; else false, the failure printed unless its cause is
  // *lastCause, which then holds it (listener thread only).
  bool Bind(std::string* lastCause);
  // Gives the connection to a waiting connection thread, or to a new one.
  void HandOver(platform::SocketHandle socket, int64_t acceptedAtMs, const std::string& peer);
  // A connection thread: answers its first connection, then the ones handed
  // to it while it waits, and ends after kConnectionThreadIdleMs without one.
  void ConnectionThread(Handoff first);

  // Each guarded by a lock of its own.
  PeerLineLimit refusedPeerLines_;
  PeerLineLimit signatureLines_;
  // Read-only after construction: connection threads read them without a lock.
  const HttpSettings settings_;
  const ApiAccess access_;
  platform::Env* const env_;
  const std::vector<AllowEntry> allowEntries_;
  platform::SocketHandle listenSocket_ = platform::kInvalidSocket;
  // When the last failure line was printed; listener thread only.
  int64_t lastFailureLineMs_ = 0;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> boundPort_{0};
  std::atomic<int> bindAttempts_{0};
  std::atomic<int> activeConnections_{0};
  // slotMutex_ guards handoffs_, idleThreads_, threadCount_, endedConnections_
  // and destroying_.
  // slotFreed_ is signalled under it when a connection ends, a thread ends
  // or a stop is asked; handoffReady_ when a connection is queued for a
  // waiting thread.
  std::mutex slotMutex_;
  std::condition_variable slotFreed_;
  std::condition_variable handoffReady_;
  std::deque<Handoff> handoffs_;
  // Waiting threads not yet promised a connection from handoffs_.
  int idleThreads_ = 0;
  int threadCount_ = 0;
  uint64_t endedConnections_ = 0;
  bool destroying_ = false;
};

// The listener's whole life, for a thread of its own: returns at once when
// the port is 0 or negative, refuses a port above 65535 with a console line,
// names each malformed allowip entry on the console, else serves for ever
// (returning only when networking cannot start). The server lives until the
// process ends: connection threads may still use it.
void ServeHttpApi(const HttpSettings& settings, SubmitFunction submit, platform::Env* env);
