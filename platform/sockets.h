// TCP sockets for the agent's HTTP server: IPv4 only, blocking calls with
// explicit waits. A thin layer over BSD sockets (POSIX) and Winsock 2.2.
//
// Ownership: every handle returned here belongs to the caller, who closes it
// with CloseSocket exactly once. Failure: operations return kInvalidSocket or
// false and, where they take one, fill *error with the reason in words. They
// never throw. Thread-safety: the functions keep no state of their own beyond
// the one-time networking start-up; one handle may be used by one thread at a
// time, except that CloseSocket may end a handle another thread waits on only
// when that thread has stopped using it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the networking service (Winsock 2.2; nothing on POSIX). Safe to call
// more than once. False when the service cannot be started.
bool StartNetworking(std::string* error);

// Creates an IPv4 stream socket bound to 0.0.0.0 (or 127.0.0.1 when
// loopbackOnly) on port, listening with backlog. Port 0 picks a free port.
// On Windows the socket is exclusive (no other program can bind over it).
SocketHandle OpenListener(int port, int backlog, bool loopbackOnly, std::string* error);

// The local port of a bound socket; 0 on failure.
int LocalPort(SocketHandle socket);

// Accepts one connection; fills peerAddress with the peer's dotted-decimal
// IPv4 text. kInvalidSocket when the accept failed, with *error (when given)
// saying why (for example that the process has no descriptor left).
SocketHandle AcceptConnection(SocketHandle listener, std::string* peerAddress,
                              std::string* error = nullptr);

// Connects to 127.0.0.1:port (used by tests and tools). A receive buffer size
// above 0 is set before connecting (a test's slow reader). kInvalidSocket on
// failure.
SocketHandle ConnectLoopback(int port, int receiveBufferBytes = 0);

enum class ReceiveStatus { kData, kClosed, kTimedOut, kFailed };

// Waits up to timeoutMs (negative: no limit) for bytes and receives at most
// capacity of them into buffer. kData with *received > 0; kClosed when the
// peer has shut down its sending side; kTimedOut when nothing arrived.
ReceiveStatus ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs,
                          std::size_t* received);

// Waits up to timeoutMs for any of sockets to become readable (data, a
// pending connection, or the peer's shutdown); sets ready[i] for each that
// is. Returns the number of ready sockets, 0 on time-out, -1 on failure, with
// *error (when given) saying why.
int WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>* ready,
                 std::string* error = nullptr);

// Sends every byte of data, retrying partial sends, within timeoutMs
// (negative: no limit). False when the connection failed first or the time
// ran out with bytes unsent (a peer that does not read): the connection is
// then fit only to be closed.
bool SendAll(SocketHandle socket, const std::string& data, int timeoutMs = -1);

// Ends the sending direction (the peer then reads end of stream).
void ShutdownSend(SocketHandle socket);

// Closes the handle; kInvalidSocket is ignored.
void CloseSocket(SocketHandle socket);

// How many descriptors (sockets and files together) the process may hold
// open now; 0 when the platform sets no such limit (Windows). Any thread.
int DescriptorLimit();

// Raises the process's soft descriptor limit to its hard limit (POSIX), so a
// low default set by a shell or service manager does not cap the agent;
// nothing on Windows. Call once at start.
void RaiseDescriptorLimit();

}  // namespace platform
