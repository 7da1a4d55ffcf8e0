// The WinInet client against a loopback server that the test scripts.
// Winsock's headers come before windows.h, which would otherwise pull in the
// old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "forward/talvxml.h"
#include "platform/http_client.h"

namespace {

// Listens on a free loopback port and serves one connection with a fixed
// answer (or none at all), keeping the request it received.
class OneShotServer {
 public:
  explicit OneShotServer(std::string answer, bool answerAtAll = true)
      : answer_(std::move(answer)), answerAtAll_(answerAtAll) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    int length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneShotServer() {
    Hangup();
    closesocket(listener_);
    thread_.join();
  }
  // Ends the connection being served (a silent one included) at once; a
  // client that gave up may keep its connection open.
  void Hangup() {
    std::lock_guard<std::mutex> hold(lock_);
    hungUp_ = true;
    if (connection_ != INVALID_SOCKET) shutdown(connection_, SD_BOTH);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/in"; }
  std::string request() {
    thread_.join();
    thread_ = std::thread([] {});
    return request_;
  }

 private:
  void Serve() {
    SOCKET connection = accept(listener_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) return;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (hungUp_) shutdown(connection, SD_BOTH);
      connection_ = connection;
    }
    char buffer[4096];
    // Read the head and as much body as Content-Length announces.
    for (;;) {
      int got = recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request_.append(buffer, static_cast<std::size_t>(got));
      std::size_t headEnd = request_.find("\r\n\r\n");
      if (headEnd == std::string::npos) continue;
      std::size_t lengthAt = request_.find("Content-Length: ");
      std::size_t bodyLength =
          lengthAt == std::string::npos ? 0 : std::stoul(request_.substr(lengthAt + 16));
      if (request_.size() >= headEnd + 4 + bodyLength) break;
    }
    if (answerAtAll_) {
      send(connection, answer_.data(), static_cast<int>(answer_.size()), 0);
    } else {
      recv(connection, buffer, sizeof buffer, 0);  // until the client gives up or Hangup
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      connection_ = INVALID_SOCKET;
    }
    closesocket(connection);
  }

  std::string answer_;
  bool answerAtAll_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::string request_;
  std::mutex lock_;                     // guards connection_ and hungUp_
  SOCKET connection_ = INVALID_SOCKET;  // the connection being served
  bool hungUp_ = false;
  std::thread thread_;
};

std::string Reply(const std::string& status, const std::string& body) {
  return "HTTP/1.0 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

TEST(HttpClientWindowsTest, OkAnswerGivesOkTextWithHeadersAndUtf8Body) {
  OneShotServer server(Reply("200 OK", "OK"));
  // u with diaeresis in the ANSI code page 1252 leaves as its UTF-8 bytes.
  const std::string body = "[{\"i\":\"Name\",\"v\":\"Pumpe \xFC\",\"t\":1}]";
  const std::string wire = "[{\"i\":\"Name\",\"v\":\"Pumpe \xC3\xBC\",\"t\":1}]";
  EXPECT_EQ(TALVXML::RequestText(server.url(), "POST", body), "OK");
  std::string request = server.request();
  EXPECT_EQ(request.rfind("POST /in HTTP/1.", 0), 0u) << request;
  EXPECT_NE(request.find("\r\ncharset: UTF-8\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nContent-Type: application/json\r\n"), std::string::npos) << request;
  if (GetACP() == 1252) {
    EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), wire);
  }
}

TEST(HttpClientWindowsTest, OtherStatusGivesEmptyTextButCountsAsAnswered) {
  OneShotServer server(Reply("500 Internal Server Error", "OK"));
  platform::HttpExchange exchange =
      TALVXML::Exchange(server.url(), "POST", "[]", "application/json");
  EXPECT_TRUE(exchange.answered);
  EXPECT_EQ(exchange.status, 500);
  OneShotServer again(Reply("500 Internal Server Error", "OK"));
  EXPECT_EQ(TALVXML::RequestText(again.url(), "POST", "[]"), "");
}

TEST(HttpClientWindowsTest, RefusedGivesNoAnswerWithinTheLimit) {
  int port;
  {
    OneShotServer closed(Reply("200 OK", "OK"));
    port = std::stoi(closed.url().substr(17));
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/in";
  platform::HttpRequestLimits limits;
  limits.totalMs = 2000;
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(TALVXML::Exchange(url, "POST", "[]", "application/json", {}, limits).answered);
  // Whether the request object reports the refusal or the limit aborts it,
  // the call returns soon after the limit.
  EXPECT_LT(GetTickCount64() - start, 8000u);
}

TEST(HttpClientWindowsTest, MalformedUrlGivesNoAnswer) {
  EXPECT_EQ(TALVXML::RequestText("not a url at all", "POST", "[]"), "");
  EXPECT_FALSE(TALVXML::SendRequest("", "POST", "[]", "application/json"));
}

TEST(HttpClientWindowsTest, SilentServerIsGivenUpAfterTheLimit) {
  OneShotServer server("", false);
  platform::HttpRequestLimits limits;
  limits.totalMs = 300;
  // The exchange runs on a thread of its own: a limit that does not work
  // fails the test at the deadline instead of hanging it, and the server
  // then hangs up so that the exchange ends and the thread can be joined.
  // The deadline stays below the request object's own receive time-out.
  std::packaged_task<platform::HttpExchange()> exchange([&] {
    return TALVXML::Exchange(server.url(), "POST", "[]", "application/json", {}, limits);
  });
  std::future<platform::HttpExchange> result = exchange.get_future();
  const auto start = std::chrono::steady_clock::now();
  std::thread client(std::move(exchange));
  const bool endedInTime = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  server.Hangup();
  client.join();
  ASSERT_TRUE(endedInTime) << "a 300 ms limit still waited after 10 s";
  EXPECT_FALSE(result.get().answered);
  // It did wait for the answer that never came, up to the limit.
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
}

TEST(HttpClientWindowsTest, DefaultLimitsAreTenAndSixtySeconds) {
  platform::HttpRequestLimits limits;
  EXPECT_EQ(limits.connectMs, 10000);
  EXPECT_EQ(limits.totalMs, 60000);
}

}  // namespace
