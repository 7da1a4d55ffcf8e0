// The server over real loopback sockets, with a recorder in place of the bridge.
#include "http/http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/text_helpers.h"
#include "http/router.h"

namespace {

// Short, so a test of a peer that never reads ends soon.
constexpr int kSendLimitMs = 300;
// Far more than a loopback connection buffers (a few MiB at most).
constexpr std::size_t kBigAnswerBytes = 16 << 20;

class ServedTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(""); }
  void TearDown() override { Stop(); }

  void Start(const std::string& key) {
    HttpSettings settings;
    settings.loopbackOnly = true;
    settings.versionText = "1.0";
    settings.accessKey = key;
    settings.allowList = "127.0.0.1";
    settings.answerSendLimitMs = kSendLimitMs;
    server_ = std::make_unique<HttpServer>(
        settings,
        [](BridgeRequest request) {
          // "big" asks for an answer larger than any socket buffer.
          if (request.argument == "big") return "[\"" + std::string(kBigAnswerBytes, 'x') + "\"]";
          return "[\"" + request.argument + "\"]";
        },
        platform::Env::Default());
    ASSERT_TRUE(server_->Listen());
    ASSERT_NE(server_->BoundPort(), 0);
    thread_ = std::thread([this] { server_->RunAcceptLoop(); });
  }
  void Stop() {
    server_->RequestStop();
    if (thread_.joinable()) thread_.join();
    // Connection threads still answering keep the server; wait for them. A
    // connection that never ends fails the test instead of hanging it, and
    // the server is left behind, since destroying it would wait for ever.
    if (!server_->AwaitNoActiveConnections(15000)) {
      ADD_FAILURE() << "connections still active 15 s after the stop";
      server_.release();
    }
  }

  platform::SocketHandle Connect() {
    platform::SocketHandle socket = platform::ConnectLoopback(server_->BoundPort());
    EXPECT_NE(socket, platform::kInvalidSocket);
    return socket;
  }

  // Everything the server sends until it closes.
  static std::string ReadAll(platform::SocketHandle socket) {
    std::string text;
    char buffer[4096];
    for (;;) {
      std::size_t got = 0;
      if (platform::ReceiveSome(socket, buffer, sizeof buffer, 15000, &got) !=
          platform::ReceiveStatus::kData) {
        break;
      }
      text.append(buffer, got);
    }
    platform::CloseSocket(socket);
    return text;
  }

  std::string Exchange(const std::string& request) {
    platform::SocketHandle socket = Connect();
    platform::SendAll(socket, request);
    return ReadAll(socket);
  }

  std::unique_ptr<HttpServer> server_;
  std::thread thread_;
};

const char kHead[] =
    "HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/1.0\r\nContent-Type:text/html;charset=UTF-8\r\n"
    "Content-length:";

TEST_F(ServedTest, AnswersWithTheExactHead) {
  EXPECT_EQ(Exchange("POST /?c=10 HTTP/1.0\r\n\r\n"), std::string(kHead) + "23\r\n\r\n" + kOkBody);
  EXPECT_EQ(Exchange("GET /?c=30 HTTP/1.0\r\n\r\n"),
            std::string(kHead) + "32\r\n\r\n" + kBadRequestBody);
}

TEST_F(ServedTest, BodyInASecondSegmentIsAwaited) {
  platform::SocketHandle socket = Connect();
  platform::SendAll(socket, "POST / HTTP/1.0\r\nContent-Length: 12\r\n\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  platform::SendAll(socket, "c=30&tags=AB");
  EXPECT_EQ(ReadAll(socket), std::string(kHead) + "26\r\n\r\n{\"code\":200,\"data\":[\"AB\"]}");
}

TEST_F(ServedTest, LongRequestIsReadWhole) {
  const std::string tags(5000, 'x');
  const std::string body = "c=30&tags=" + tags + "Z";
  std::string answer = Exchange(
      "POST / HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_NE(answer.find(tags + "Z\"]}"), std::string::npos);
}

TEST_F(ServedTest, OversizedRequestIsRefused) {
  EXPECT_EQ(Exchange("POST / HTTP/1.0\r\nContent-Length: 70000\r\n\r\n"),
            std::string(kHead) + "32\r\n\r\n" + kBadRequestBody);
}

TEST_F(ServedTest, UnfinishedBodyIsClosedUnanswered) {
  platform::SocketHandle socket = Connect();
  platform::SendAll(socket, "POST / HTTP/1.0\r\nContent-Length: 40\r\n\r\nc=40&tagkvs=A:1");
  platform::ShutdownSend(socket);
  EXPECT_EQ(ReadAll(socket), "");
}

TEST_F(ServedTest, HeadWithoutEmptyLineIsTakenAfterSilence) {
  platform::SocketHandle socket = Connect();
  const auto start = std::chrono::steady_clock::now();
  platform::SendAll(socket, "POST /?c=30&tags=Q HTTP/1.0\r\n");
  const std::string answer = ReadAll(socket);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_NE(answer.find("{\"code\":200,\"data\":[\"Q\"]}"), std::string::npos);
}

TEST_F(ServedTest, TextWithoutRequestLineIsClosedUnanswered) {
  platform::SocketHandle socket = Connect();
  platform::SendAll(socket, "hello\r\n\r\n");
  EXPECT_EQ(ReadAll(socket), "");
}

TEST_F(ServedTest, IdleConnectionsDoNotDelayARequest) {
  std::vector<platform::SocketHandle> idle;
  for (int n = 0; n < 200; ++n) idle.push_back(Connect());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange("POST /?c=10 HTTP/1.0\r\n\r\n"), std::string(kHead) + "23\r\n\r\n" + kOkBody);
  // Well under the 1 s after which a silent connection is given up: the request
  // did not wait behind the idle ones (the exact figure belongs to the benchmark).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_LE(server_->ActiveConnections(), kMaxConnectionThreads);
  for (auto socket : idle) platform::CloseSocket(socket);
}

TEST_F(ServedTest, PeerThatNeverReadsIsGivenUpAfterTheSendLimit) {
  // A small receive buffer and an answer far larger than every buffer: the
  // send can never finish while the peer does not read.
  platform::SocketHandle socket = platform::ConnectLoopback(server_->BoundPort(), 4096);
  ASSERT_NE(socket, platform::kInvalidSocket);
  platform::SendAll(socket, "POST /?c=30&tags=big HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(server_->AwaitEndedConnections(1, 30000))
      << "the connection thread is still sending to a peer that does not read";
  // The answer was cut short: the peer finds fewer bytes than were due.
  std::size_t total = 0;
  char buffer[65536];
  for (;;) {
    std::size_t got = 0;
    const platform::ReceiveStatus status =
        platform::ReceiveSome(socket, buffer, sizeof buffer, 15000, &got);
    if (status != platform::ReceiveStatus::kData) break;
    total += got;
  }
  platform::CloseSocket(socket);
  EXPECT_LT(total, kBigAnswerBytes);
}

TEST_F(ServedTest, ConnectionThreadIsKeptForTheNextConnection) {
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(Exchange("POST /?c=10 HTTP/1.0\r\n\r\n"),
              std::string(kHead) + "23\r\n\r\n" + kOkBody);
    // The answer is out before the thread lets go of its connection.
    ASSERT_TRUE(server_->AwaitNoActiveConnections(10000));
    EXPECT_EQ(server_->ConnectionThreads(), 1) << "after connection " << n;
  }
}

TEST(WaitingConnectionLimit, StaysBelowTheDescriptorLimitWithRoomToSpare) {
  struct Case {
    int descriptorLimit;
    std::size_t waiting;
  } cases[] = {
      {0, kMaxWaitingConnections},        // no limit known (Windows)
      {1 << 20, kMaxWaitingConnections},  // a generous hard limit
      {1024, 1024 - 64 - 64},             // a common default soft limit
      {256, 256 - 64 - 64},
      {100, kMinWaitingConnections},  // below the reserve: a few still wait
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WaitingConnectionLimit(c.descriptorLimit), c.waiting) << c.descriptorLimit;
  }
}

// A console that keeps what is printed and lets a test await a line.
class AwaitableConsole : public platform::EnvWrapper {
 public:
  AwaitableConsole() : EnvWrapper(platform::Env::Default()) {}
  void ConsoleWrite(const std::string& text) override { Add(text); }
  void ConsoleWriteColoured(uint16_t, const std::string& text) override { Add(text); }

  // Times fragment has been printed.
  int Count(const std::string& fragment) {
    std::lock_guard<std::mutex> hold(mutex_);
    return CountLocked(fragment);
  }
  bool Await(const std::string& fragment, int64_t timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex_);
    return printedMore_.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                                 [&] { return CountLocked(fragment) > 0; });
  }
  std::string Printed() {
    std::lock_guard<std::mutex> hold(mutex_);
    return printed_;
  }

 private:
  void Add(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    printed_ += text;
    printedMore_.notify_all();
  }
  int CountLocked(const std::string& fragment) const {
    int count = 0;
    for (std::size_t at = printed_.find(fragment); at != std::string::npos;
         at = printed_.find(fragment, at + 1)) {
      ++count;
    }
    return count;
  }
  std::mutex mutex_;  // guards printed_; printedMore_ is signalled under it
  std::condition_variable printedMore_;
  std::string printed_;
};

// A listener of this test's own on a free loopback port, standing for
// another program that holds the agent's port.
struct PortHolder {
  PortHolder() {
    std::string error;
    socket = platform::OpenListener(0, 5, true, &error);
    EXPECT_NE(socket, platform::kInvalidSocket) << error;
    port = platform::LocalPort(socket);
  }
  ~PortHolder() { Release(); }
  void Release() {
    if (socket != platform::kInvalidSocket) platform::CloseSocket(socket);
    socket = platform::kInvalidSocket;
  }
  platform::SocketHandle socket;
  int port = 0;
};

HttpSettings SettingsFor(int port, int64_t retryMs) {
  HttpSettings settings;
  settings.port = port;
  settings.loopbackOnly = true;
  settings.versionText = "1.0";
  settings.listenRetryMs = retryMs;
  return settings;
}

TEST(HttpServerBind, PortInUseIsReportedWithItsCause) {
  PortHolder holder;
  AwaitableConsole console;
  HttpServer server(SettingsFor(holder.port, kListenRetryMs), nullptr, &console);
  EXPECT_FALSE(server.Listen());
  EXPECT_NE(
      console.Printed().find(FormatText("\nThe http server could not use port %d: ", holder.port)),
      std::string::npos)
      << console.Printed();
  EXPECT_NE(console.Printed().find("; it tries again every 10 s."), std::string::npos);
}

TEST(HttpServerBind, PortInUseIsTriedAgainUntilItIsFree) {
  PortHolder holder;
  AwaitableConsole console;
  HttpServer server(
      SettingsFor(holder.port, 20), [](BridgeRequest) { return std::string("[]"); }, &console);
  bool served = false;
  std::thread serving([&] { served = server.Serve(); });
  ASSERT_TRUE(console.Await("could not use port", 10000)) << console.Printed();
  // Several attempts fail alike before the port is let go.
  while (server.BindAttempts() < 3) std::this_thread::yield();
  EXPECT_EQ(server.BoundPort(), 0);
  holder.Release();
  ASSERT_TRUE(console.Await("The http server started on port", 10000)) << console.Printed();
  // The lasting failure was told once, and the server now answers.
  EXPECT_EQ(console.Count("could not use port"), 1) << console.Printed();
  EXPECT_EQ(server.BoundPort(), holder.port);
  platform::SocketHandle socket = platform::ConnectLoopback(holder.port);
  ASSERT_NE(socket, platform::kInvalidSocket);
  platform::SendAll(socket, "POST /?c=10 HTTP/1.0\r\n\r\n");
  std::string answer;
  char buffer[4096];
  std::size_t got = 0;
  while (platform::ReceiveSome(socket, buffer, sizeof buffer, 15000, &got) ==
         platform::ReceiveStatus::kData) {
    answer.append(buffer, got);
  }
  platform::CloseSocket(socket);
  EXPECT_NE(answer.find(kOkBody), std::string::npos) << answer;
  server.RequestStop();
  serving.join();
  EXPECT_TRUE(served);
  EXPECT_TRUE(server.AwaitNoActiveConnections(15000));
}

TEST(HttpServerBind, StopEndsTheWaitForThePort) {
  PortHolder holder;
  AwaitableConsole console;
  // A wait far longer than the test: only the stop can end it.
  HttpServer server(SettingsFor(holder.port, 600000), nullptr, &console);
  bool served = true;
  std::thread serving([&] { served = server.Serve(); });
  ASSERT_TRUE(console.Await("could not use port", 10000)) << console.Printed();
  server.RequestStop();
  serving.join();
  EXPECT_FALSE(served);
  EXPECT_EQ(console.Count("started on port"), 0);
}

TEST(AllowListReport, NamesEachMalformedEntryOnce) {
  struct Case {
    std::string list;
    std::vector<std::string> named;
    bool noneLeft;
    bool loopbackAdmitted;
  } cases[] = {
      {"", {}, false, true},
      {"127.0.0.1, 10.0.0.0/8", {}, false, true},
      {"127.0.0.l", {"127.0.0.l"}, true, false},
      {"127.0.0.l;127.0.0.1", {"127.0.0.l"}, false, true},
      {"10.0.0.1/33 256.1.1.1,1.2.3.4/ x",
       {"10.0.0.1/33", "256.1.1.1", "1.2.3.4/", "x"},
       true,
       false},
  };
  for (const Case& c : cases) {
    AwaitableConsole console;
    ReportAllowListProblems(c.list, &console);
    for (const std::string& entry : c.named) {
      EXPECT_EQ(console.Count("\nThe allowip entry \"" + entry + "\" is neither"), 1)
          << c.list << ": " << console.Printed();
    }
    EXPECT_EQ(console.Count("\nThe allowip entry"), static_cast<int>(c.named.size())) << c.list;
    EXPECT_EQ(console.Count("no peer is admitted"), c.noneLeft ? 1 : 0) << c.list;
    // The valid entries stay in force beside the malformed ones.
    HttpSettings settings;
    settings.allowList = c.list;
    HttpServer server(settings, nullptr, &console);
    EXPECT_EQ(server.IsPeerAllowed("127.0.0.1"), c.loopbackAdmitted) << c.list;
  }
}

}  // namespace
