// What the API tells the log: every write with its peer, tags, values and
// outcome; failed signatures and refused peers once a minute per address.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "common/text_helpers.h"
#include "http/http_server.h"
#include "http/peer_line_limit.h"
#include "http/router.h"
#include "platform/sockets.h"
#include "tests/support/recording_env.h"

namespace {

// A recording console whose monotonic clock the test sets.
class ClockedConsoleEnv : public platform::RecordingConsoleEnv {
 public:
  int64_t MonotonicNanoseconds() override {
    std::lock_guard<std::mutex> hold(mutex_);
    return nowMs_ * 1000000;
  }
  void SetNowMs(int64_t nowMs) {
    std::lock_guard<std::mutex> hold(mutex_);
    nowMs_ = nowMs;
  }

 private:
  std::mutex mutex_;  // guards nowMs_: the server's threads read it
  int64_t nowMs_ = 1000000;
};

std::string Answered(const ApiAccess& access, const std::string& request, const std::string& peer) {
  HttpResponse response(platform::kInvalidSocket, "1.0");
  EXPECT_TRUE(AnswerRequestText(access, request, &response, peer));
  return response.sentText.substr(response.sentText.find("\r\n\r\n") + 4);
}

TEST(ApiAudit, EveryWriteIsLoggedWithPeerTagsValuesAndOutcome) {
  struct Case {
    const char* body;
    const char* answer;  // the OPC worker's
    const char* line;
  };
  const Case cases[] = {
      {"group=g&tagkvs=Tag1:5,Tag2:6", "ok",
       "\nAPI write from 10.1.2.3: group \"g\", tags and values \"Tag1:5,Tag2:6\": ok"},
      {"group=g&item=Boiler.&tagkvs=T:1", "Busy",
       "\nAPI write from 10.1.2.3: group \"g\", item \"Boiler.\", tags and values \"T:1\": Busy"},
      // A peer's line break or escape cannot forge a line of its own.
      {"group=g&tagkvs=T:1%0A2026-01-01 forged%1B[2J", "ok",
       "\nAPI write from 10.1.2.3: group \"g\", tags and values \"T:1?2026-01-01 forged?[2J\": "
       "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    platform::RecordingConsoleEnv console;
    ApiAccess access{"", [&](BridgeRequest) { return std::string(c.answer); }, nullptr, &console};
    Answered(access, std::string("POST /?c=40 HTTP/1.0\r\n\r\n") + c.body, "10.1.2.3");
    EXPECT_EQ(console.Printed(), c.line);
  }
  // Reads and lists are not writes: nothing is logged for them.
  platform::RecordingConsoleEnv console;
  ApiAccess access{"", [](BridgeRequest) { return std::string("[]"); }, nullptr, &console};
  Answered(access, "POST /?c=30 HTTP/1.0\r\n\r\ngroup=g&tags=T", "10.1.2.3");
  Answered(access, "POST /?c=50 HTTP/1.0\r\n\r\ngroup=g", "10.1.2.3");
  EXPECT_EQ(console.Printed(), "");
}

TEST(ApiAudit, AWriteRefusedByItsSignatureReachesNoDeviceAndIsToldAsAFailure) {
  ClockedConsoleEnv console;
  PeerLineLimit lines;
  bool reached = false;
  ApiAccess access{"secret",
                   [&](BridgeRequest) {
                     reached = true;
                     return std::string("ok");
                   },
                   nullptr, &console, &lines};
  const std::string unsigned_ = "POST /?c=40 HTTP/1.0\r\nsign: 00\r\n\r\ngroup=g&tagkvs=T:1";
  EXPECT_EQ(Answered(access, unsigned_, "10.0.0.5"), kAuthFailedBody);
  console.SetNowMs(1000000 + 1000);
  Answered(access, unsigned_, "10.0.0.5");
  Answered(access, unsigned_, "10.0.0.6");
  console.SetNowMs(1000000 + kPeerLineIntervalMs - 1);
  Answered(access, unsigned_, "10.0.0.5");
  console.SetNowMs(1000000 + kPeerLineIntervalMs);
  Answered(access, unsigned_, "10.0.0.5");
  EXPECT_FALSE(reached);
  EXPECT_EQ(console.Printed(),
            "\nA request from 10.0.0.5 failed its signature check."
            "\nA request from 10.0.0.6 failed its signature check."
            "\n3 requests from 10.0.0.5 failed their signature check since the last line about "
            "it.");
}

TEST(PeerLineLimit, OneLineAMinutePerAddressWithTheCount) {
  struct Step {
    const char* address;
    int64_t atMs;
    bool told;
    uint64_t count;  // when told
  };
  const Step steps[] = {
      {"10.0.0.5", 0, true, 1},      {"10.0.0.5", 10, false, 0},    {"10.0.0.6", 20, true, 1},
      {"10.0.0.5", 59999, false, 0}, {"10.0.0.5", 60000, true, 3},  {"10.0.0.5", 60001, false, 0},
      {"10.0.0.5", 200000, true, 2}, {"10.0.0.6", 200000, true, 1},
  };
  PeerLineLimit limit;
  for (const Step& step : steps) {
    SCOPED_TRACE(FormatText("%s at %lld", step.address, static_cast<long long>(step.atMs)));
    uint64_t count = 0;
    EXPECT_EQ(limit.Note(step.address, step.atMs, &count), step.told);
    if (step.told) {
      EXPECT_EQ(count, step.count);
    }
  }
}

TEST(PeerLineLimit, AFloodOfAddressesIsHeldToItsBound) {
  PeerLineLimit limit;
  uint64_t count = 0;
  int told = 0;
  for (int n = 0; n < 5000; ++n) {
    told += limit.Note(FormatText("10.%d.%d.1", n / 256, n % 256), 0, &count) ? 1 : 0;
  }
  EXPECT_EQ(told, 4096);
  // A minute on, the quiet ones are forgotten and new ones told again.
  EXPECT_TRUE(limit.Note("192.168.0.1", kPeerLineIntervalMs, &count));
}

// A peer the allow list keeps out, over a real loopback socket: told at
// once, then once a minute with the count.
TEST(ApiAudit, RefusedPeersAreToldOnceAMinutePerAddress) {
  ClockedConsoleEnv console;
  HttpSettings settings;
  settings.loopbackOnly = true;
  settings.versionText = "1.0";
  settings.allowList = "10.0.0.0/8";
  HttpServer server(
      settings, [](BridgeRequest) { return std::string("[]"); }, &console);
  ASSERT_TRUE(server.Listen());
  std::thread loop([&server] { server.RunAcceptLoop(); });
  // Each refused connection is closed by the server: its end is what the
  // test waits for before the next step.
  auto refusedOnce = [&server] {
    platform::SocketHandle socket = platform::ConnectLoopback(server.BoundPort());
    ASSERT_NE(socket, platform::kInvalidSocket);
    char byte = 0;
    std::size_t got = 0;
    EXPECT_NE(platform::ReceiveSome(socket, &byte, 1, 15000, &got), platform::ReceiveStatus::kData);
    platform::CloseSocket(socket);
  };
  refusedOnce();
  refusedOnce();
  console.SetNowMs(1000000 + kPeerLineIntervalMs);
  refusedOnce();
  server.RequestStop();
  loop.join();
  EXPECT_EQ(console.Printed().substr(console.Printed().find("\nRefused")),
            "\nRefused a connection from 127.0.0.1: not in allowip."
            "\nRefused 2 connections from 127.0.0.1 since the last line about it: not in "
            "allowip.");
}

}  // namespace
