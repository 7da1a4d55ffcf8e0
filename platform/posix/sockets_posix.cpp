// BSD sockets behind platform/sockets.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/sockets.h"

namespace platform {
namespace {

std::string ErrorText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool StartNetworking(std::string* /*error*/) { return true; }

SocketHandle OpenListener(int port, int backlog, bool loopbackOnly, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = ErrorText("socket");
    return kInvalidSocket;
  }
  // Lets a restarted agent bind while old connections linger in TIME_WAIT;
  // on Linux it never allows binding over a socket that still listens.
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = ErrorText("bind");
    ::close(fd);
    return kInvalidSocket;
  }
  if (::listen(fd, backlog) != 0) {
    if (error) *error = ErrorText("listen");
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

int LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) !=
      0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* peerAddress, std::string* error) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  int fd = ::accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrorText("accept");
    return kInvalidSocket;
  }
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  if (peerAddress) *peerAddress = text;
  return fd;
}

SocketHandle ConnectLoopback(int port, int receiveBufferBytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  if (receiveBufferBytes > 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

ReceiveStatus ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs,
                          std::size_t* received) {
  *received = 0;
  pollfd entry{static_cast<int>(socket), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return ReceiveStatus::kFailed;
  if (ready == 0) return ReceiveStatus::kTimedOut;
  ssize_t count;
  do {
    count = ::recv(static_cast<int>(socket), buffer, capacity, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) return ReceiveStatus::kFailed;
  if (count == 0) return ReceiveStatus::kClosed;
  *received = static_cast<std::size_t>(count);
  return ReceiveStatus::kData;
}

int WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>* ready,
                 std::string* error) {
  std::vector<pollfd> entries(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    entries[i] = pollfd{static_cast<int>(sockets[i]), POLLIN, 0};
  }
  int count = ::poll(entries.data(), entries.size(), timeoutMs);
  ready->assign(sockets.size(), false);
  if (count < 0) {
    if (errno == EINTR) return 0;
    if (error) *error = ErrorText("poll");
    return -1;
  }
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    (*ready)[i] = (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  }
  return count;
}

bool SendAll(SocketHandle socket, const std::string& data, int timeoutMs) {
  // Each send takes what the socket buffer holds without blocking; between
  // sends poll waits for room, for no longer than the time left.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t count = ::send(static_cast<int>(socket), data.data() + sent, data.size() - sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    int waitMs = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      waitMs = static_cast<int>(left.count());
    }
    pollfd entry{static_cast<int>(socket), POLLOUT, 0};
    const int ready = ::poll(&entry, 1, waitMs);
    if (ready < 0 && errno != EINTR) return false;
  }
  return true;
}

void ShutdownSend(SocketHandle socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(static_cast<int>(socket));
}

int DescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > static_cast<rlim_t>(INT_MAX)) {
    return INT_MAX;
  }
  return static_cast<int>(limit.rlim_cur);
}

void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace platform
