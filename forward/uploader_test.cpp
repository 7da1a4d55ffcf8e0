#include "forward/uploader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/utf.h"
#include "forward/forward_test_folder.h"
#include "platform/recording_env.h"

namespace {

platform::HttpExchange Answer(int32_t status, const std::u16string& text) {
  platform::HttpExchange exchange;
  exchange.reached = true;
  exchange.answered = true;
  exchange.status = status;
  exchange.responseText = text;
  return exchange;
}

// The default environment with a recording console, a receiver that the
// test scripts, and a spool folder listing that fails on request.
class ReceiverEnv : public platform::RecordingConsoleEnv {
 public:
  platform::HttpExchange PerformHttpRequest(const std::u16string& url, const std::u16string& method,
                                            const std::u16string& body,
                                            const std::u16string& contentType,
                                            const std::vector<platform::HttpHeader>&,
                                            const platform::HttpRequestLimits&) override {
    urls.push_back(Utf16ToUtf8(url));
    methods.push_back(Utf16ToUtf8(method));
    types.push_back(Utf16ToUtf8(contentType));
    bodies.push_back(Utf16ToUtf8(body));
    return reply(bodies.back());
  }
  platform::Status ListDirectory(const std::string& folder,
                                 std::vector<platform::DirectoryEntry>* entries) override {
    if (failListing) {
      entries->clear();
      return platform::Status::Failed("Permission denied");
    }
    return RecordingConsoleEnv::ListDirectory(folder, entries);
  }

  std::vector<std::string> urls, methods, types, bodies;
  std::function<platform::HttpExchange(const std::string&)> reply = [](const std::string&) {
    return Answer(200, u"OK");
  };
  bool failListing = false;
};

class UploaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context.env = &env;
    context.url = "http://127.0.0.1:1/in";
    context.folder = folder.path();
  }

  UploadSummary Tick() { return UploadTickWith(context, &state); }

  TestFolder folder;
  ReceiverEnv env;
  UploaderContext context;
  UploaderState state;
  std::vector<std::string>& bodies = env.bodies;
  std::function<platform::HttpExchange(const std::string&)>& reply = env.reply;
};

TEST_F(UploaderTest, PostsOldestFirstAsJsonArraysAndDeletesAccepted) {
  folder.Write("1700000000002.txt", "{\"i\":\"B\",\"v\":\"2\",\"t\":1}");
  folder.Write("1700000000001.txt",
               "{\"i\":\"A\",\"v\":\"1\",\"t\":1},{\"i\":\"A\",\"v\":\"3\",\"t\":1}");
  folder.Write("999.txt", "{}");
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 3);
  EXPECT_EQ(summary.accepted, 3);
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0], "[{}]");
  EXPECT_EQ(bodies[1], "[{\"i\":\"A\",\"v\":\"1\",\"t\":1},{\"i\":\"A\",\"v\":\"3\",\"t\":1}]");
  EXPECT_EQ(bodies[2], "[{\"i\":\"B\",\"v\":\"2\",\"t\":1}]");
  EXPECT_EQ(env.urls[0], "http://127.0.0.1:1/in");
  EXPECT_EQ(env.methods[0], "POST");
  EXPECT_EQ(env.types[0], "application/json");
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_FALSE(state.busy.load());
  EXPECT_EQ(env.Printed(), "");
  EXPECT_EQ(summary.failure, "");
}

TEST_F(UploaderTest, AnswersOtherThanOkKeepTheFileAndTheTickGoesOn) {
  folder.Write("1.txt", "{}");
  folder.Write("2.txt", "{}");
  folder.Write("3.txt", "{}");
  folder.Write("4.txt", "{}");
  int call = 0;
  reply = [&call](const std::string&) {
    switch (call++) {
      case 0:
        return Answer(200, u"ok");
      case 1:
        return Answer(500, u"OK");
      case 2:
        return Answer(200, u"OK\n");
      default:
        return Answer(200, u"OK");
    }
  };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 4);
  EXPECT_EQ(summary.accepted, 1);
  EXPECT_FALSE(summary.ended);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"1.txt", "2.txt", "3.txt"}));
  // The last refusal, in words, for the status report.
  EXPECT_EQ(summary.failure, "answered \"OK\n\"");
  EXPECT_EQ(UploadFailureText(Answer(503, u"OK")), "status 503");
  EXPECT_EQ(UploadFailureText(platform::HttpExchange()), "receiver not reached");
  platform::HttpExchange silent;
  silent.reached = true;
  EXPECT_EQ(UploadFailureText(silent), "no answer");
}

TEST_F(UploaderTest, NoAnswerEndsTheTickAndKeepsEveryFile) {
  for (int i = 1; i <= 5; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
  reply = [](const std::string&) { return platform::HttpExchange(); };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 1);
  EXPECT_TRUE(summary.ended);
  EXPECT_EQ(folder.Names().size(), 5u);
  // The receiver is back: the whole backlog goes in one tick, oldest first.
  reply = [](const std::string&) { return Answer(200, u"OK"); };
  bodies.clear();
  summary = Tick();
  EXPECT_EQ(summary.accepted, 5);
  EXPECT_TRUE(folder.Names().empty());
}

platform::HttpExchange ReachedWithoutAnswer() {
  platform::HttpExchange exchange;
  exchange.reached = true;
  return exchange;
}

TEST_F(UploaderTest, PostWithoutAnswerKeepsItsFileAndTheNextFilesStillGo) {
  folder.Write("1.txt", "{\"big\":1}");
  folder.Write("2.txt", "{}");
  folder.Write("3.txt", "{}");
  reply = [](const std::string& body) {
    return body == "[{\"big\":1}]" ? ReachedWithoutAnswer() : Answer(200, u"OK");
  };
  for (int tick = 1; tick <= 4; ++tick) {
    UploadSummary summary = Tick();
    EXPECT_FALSE(summary.ended) << tick;
    EXPECT_EQ(summary.unanswered, 1) << tick;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"1.txt"}) << tick;
    const bool told = env.Printed().find("1.txt") != std::string::npos;
    EXPECT_EQ(told, tick >= 3) << tick << env.Printed();
  }
  // Named once, in one line, after the third tick in a row.
  EXPECT_EQ(env.Printed(),
            "\nUpload of " + folder.file("1.txt") + " got no answer in 3 ticks in a row");
}

TEST_F(UploaderTest, ATickWithAnAnswerStartsTheCountAgain) {
  folder.Write("1.txt", "{}");
  int call = 0;
  reply = [&call](const std::string&) {
    return ++call == 3 ? Answer(500, u"") : ReachedWithoutAnswer();
  };
  for (int tick = 1; tick <= 5; ++tick) Tick();  // none, none, 500, none, none
  EXPECT_EQ(env.Printed(), "");
  Tick();  // the third in a row since the answer
  EXPECT_NE(env.Printed().find("1.txt got no answer"), std::string::npos);
}

TEST_F(UploaderTest, RedirectNotFollowedKeepsTheFilesAndNamesTheNewLocationOnce) {
  folder.Write("1.txt", "{}");
  folder.Write("2.txt", "{}");
  reply = [](const std::string&) {
    platform::HttpExchange moved = Answer(301, u"OK");
    moved.location = u"http://127.0.0.1:2/elsewhere";
    return moved;
  };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 2);
  EXPECT_EQ(summary.accepted, 0);
  Tick();
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"1.txt", "2.txt"}));
  EXPECT_EQ(env.Printed(),
            "\nUpload not accepted: the receiver moved to http://127.0.0.1:2/elsewhere");
}

TEST_F(UploaderTest, GatewayAnswersEndTheTickAndKeepEveryFile) {
  for (int32_t status : {502, 503, 504}) {
    for (int i = 1; i <= 3; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
    bodies.clear();
    reply = [status](const std::string&) { return Answer(status, u"Bad Gateway"); };
    UploadSummary summary = Tick();
    EXPECT_EQ(summary.posted, 1) << status;
    EXPECT_TRUE(summary.ended) << status;
    EXPECT_EQ(folder.Names().size(), 3u) << status;
    reply = [](const std::string&) { return Answer(200, u"OK"); };
    EXPECT_EQ(Tick().accepted, 3) << status;
  }
  // Other refusals keep today's rule: the file stays and the tick goes on.
  for (int i = 1; i <= 3; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
  reply = [](const std::string&) { return Answer(500, u""); };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 3);
  EXPECT_FALSE(summary.ended);
}

TEST_F(UploaderTest, StopRequestEndsTheTickBetweenFiles) {
  for (int i = 1; i <= 5; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
  bool stopping = false;
  context.stopRequested = [&stopping] { return stopping; };
  reply = [&](const std::string&) {
    if (bodies.size() == 2) stopping = true;  // asked while the second post is under way
    return Answer(200, u"OK");
  };
  UploadSummary summary = Tick();
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.posted, 2);
  // The post under way finished and its file went; the rest waits untouched.
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"3.txt", "4.txt", "5.txt"}));
  EXPECT_FALSE(state.busy.load());
}

TEST_F(UploaderTest, SkipsFoldersTemporariesAndOtherFiles) {
  std::filesystem::create_directory(folder.file("5.txt"));
  folder.Write("6.writing", "{\"i\":");
  folder.Write("7.dat", "x");
  folder.Write("8.txt", "{}");
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 1);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"5.txt", "6.writing", "7.dat"}));
}

TEST_F(UploaderTest, VanishedFileIsSkippedAndTheRestIsSent) {
  folder.Write("1.txt", "{\"n\":1}");
  folder.Write("2.txt", "{\"n\":2}");
  folder.Write("3.txt", "{\"n\":3}");
  reply = [this](const std::string& body) {
    if (body == "[{\"n\":1}]") std::filesystem::remove(folder.file("2.txt"));
    return Answer(200, u"OK");
  };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.unreadable, 1);
  EXPECT_EQ(summary.accepted, 2);
  EXPECT_EQ(bodies, (std::vector<std::string>{"[{\"n\":1}]", "[{\"n\":3}]"}));
}

TEST_F(UploaderTest, EmptyUrlSendsNothing) {
  folder.Write("1.txt", "{}");
  context.url.clear();
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 0);
  EXPECT_TRUE(bodies.empty());
  EXPECT_EQ(folder.Names().size(), 1u);
}

TEST_F(UploaderTest, BusyTickReturnsAtOnce) {
  folder.Write("1.txt", "{}");
  state.busy.store(true);
  EXPECT_EQ(Tick().posted, 0);
  EXPECT_TRUE(state.busy.load());
}

TEST_F(UploaderTest, FailedListingIsReportedOnceWithItsCauseAndKeepsEveryFile) {
  folder.Write("1.txt", "{}");
  env.failListing = true;
  UploadSummary summary = Tick();
  EXPECT_TRUE(summary.unlisted);
  EXPECT_EQ(summary.posted, 0);
  EXPECT_EQ(env.Printed(),
            "\nSpool folder listing failed: cannot list " + folder.path() + ": Permission denied");
  Tick();  // still failing: told once
  EXPECT_EQ(env.Printed().find("listing failed", 30), std::string::npos) << env.Printed();
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"1.txt"});
  EXPECT_FALSE(state.busy.load());

  env.failListing = false;  // readable again: the file goes
  EXPECT_EQ(Tick().accepted, 1);
  EXPECT_TRUE(folder.Names().empty());
  env.failListing = true;  // a new failure after a good listing is told again
  Tick();
  EXPECT_NE(env.Printed().find("listing failed", 30), std::string::npos) << env.Printed();
}

}  // namespace
