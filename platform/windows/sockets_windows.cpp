// Winsock 2.2 behind platform/sockets.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/sockets.h"

namespace platform {
namespace {

std::string ErrorText(const char* what, int code) {
  char* message = nullptr;
  FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&message), 0, nullptr);
  std::string text = std::string(what) + ": error " + std::to_string(code);
  if (message) {
    std::string words = message;
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) {
      words.pop_back();
    }
    text += " (" + words + ")";
    LocalFree(message);
  }
  return text;
}

SOCKET AsSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }

SocketHandle AsHandle(SOCKET socket) {
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
}

}  // namespace

bool StartNetworking(std::string* error) {
  // Started once per process and never cleaned up: the process exit ends it.
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data;
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0 && error) *error = ErrorText("WSAStartup", result);
  return result == 0;
}

SocketHandle OpenListener(int port, int backlog, bool loopbackOnly, std::string* error) {
  if (!StartNetworking(error)) return kInvalidSocket;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    if (error) *error = ErrorText("socket", WSAGetLastError());
    return kInvalidSocket;
  }
  // No other program may bind the same port over the agent's socket.
  BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(loopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = ErrorText("bind", WSAGetLastError());
    closesocket(s);
    return kInvalidSocket;
  }
  if (listen(s, backlog) != 0) {
    if (error) *error = ErrorText("listen", WSAGetLastError());
    closesocket(s);
    return kInvalidSocket;
  }
  return AsHandle(s);
}

int LocalPort(SocketHandle socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (getsockname(AsSocket(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

SocketHandle AcceptConnection(SocketHandle listener, std::string* peerAddress, std::string* error) {
  sockaddr_in address{};
  int length = sizeof address;
  SOCKET s = accept(AsSocket(listener), reinterpret_cast<sockaddr*>(&address), &length);
  if (s == INVALID_SOCKET) {
    if (error) *error = ErrorText("accept", WSAGetLastError());
    return kInvalidSocket;
  }
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address.sin_addr);
  if (peerAddress) {
    *peerAddress = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
                   "." + std::to_string(b[3]);
  }
  return AsHandle(s);
}

SocketHandle ConnectLoopback(int port, int receiveBufferBytes) {
  if (!StartNetworking(nullptr)) return kInvalidSocket;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (receiveBufferBytes > 0) {
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBufferBytes),
               sizeof receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return kInvalidSocket;
  }
  return AsHandle(s);
}

ReceiveStatus ReceiveSome(SocketHandle socket, char* buffer, std::size_t capacity, int timeoutMs,
                          std::size_t* received) {
  *received = 0;
  WSAPOLLFD entry{};
  entry.fd = AsSocket(socket);
  entry.events = POLLRDNORM;
  int ready = WSAPoll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (ready < 0) return ReceiveStatus::kFailed;
  if (ready == 0) return ReceiveStatus::kTimedOut;
  int count =
      recv(AsSocket(socket), buffer, static_cast<int>(capacity > 65536 ? 65536 : capacity), 0);
  if (count < 0) return ReceiveStatus::kFailed;
  if (count == 0) return ReceiveStatus::kClosed;
  *received = static_cast<std::size_t>(count);
  return ReceiveStatus::kData;
}

int WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>* ready,
                 std::string* error) {
  std::vector<WSAPOLLFD> entries(sockets.size());
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    entries[i].fd = AsSocket(sockets[i]);
    entries[i].events = POLLRDNORM;
    entries[i].revents = 0;
  }
  ready->assign(sockets.size(), false);
  if (sockets.empty()) {
    Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
    return 0;
  }
  int count = WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeoutMs);
  if (count < 0) {
    if (error) *error = ErrorText("WSAPoll", WSAGetLastError());
    return -1;
  }
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    (*ready)[i] = (entries[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
  }
  return count;
}

bool SendAll(SocketHandle socket, const std::string& data, int timeoutMs) {
  // A blocking send waits until all its bytes are buffered, for as long as
  // the peer does not read; so the socket sends without blocking for the
  // answer's length, and WSAPoll waits for room, no longer than the time left.
  const ULONGLONG deadline =
      GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  u_long nonBlocking = 1;
  if (ioctlsocket(AsSocket(socket), FIONBIO, &nonBlocking) != 0) return false;
  bool complete = true;
  std::size_t sent = 0;
  while (sent < data.size()) {
    std::size_t chunk = data.size() - sent;
    if (chunk > 65536) chunk = 65536;
    int count = send(AsSocket(socket), data.data() + sent, static_cast<int>(chunk), 0);
    if (count > 0) {
      sent += static_cast<std::size_t>(count);
      continue;
    }
    if (count == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
      complete = false;
      break;
    }
    INT waitMs = -1;
    if (timeoutMs >= 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        complete = false;
        break;
      }
      waitMs = static_cast<INT>(deadline - now);
    }
    WSAPOLLFD entry{};
    entry.fd = AsSocket(socket);
    entry.events = POLLWRNORM;
    if (WSAPoll(&entry, 1, waitMs) < 0) {
      complete = false;
      break;
    }
  }
  u_long blocking = 0;
  ioctlsocket(AsSocket(socket), FIONBIO, &blocking);
  return complete;
}

void ShutdownSend(SocketHandle socket) { shutdown(AsSocket(socket), SD_SEND); }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(AsSocket(socket));
}

// Windows sets no per-process limit on sockets that the agent could meet
// before its own caps.
int DescriptorLimit() { return 0; }

void RaiseDescriptorLimit() {}

}  // namespace platform
