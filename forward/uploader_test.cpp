#include "forward/uploader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/text_helpers.h"
#include "common/utf.h"
#include "tests/support/forward_test_folder.h"
#include "tests/support/recording_env.h"

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
  platform::Status DeleteFileAt(const std::string& path) override {
    return deleteFile ? deleteFile(path) : RecordingConsoleEnv::DeleteFileAt(path);
  }

  std::vector<std::string> urls, methods, types, bodies;
  // Stands in for deleting a file when set.
  std::function<platform::Status(const std::string& path)> deleteFile;
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
  // The last refusal, in words, for the status report, on one line.
  EXPECT_EQ(summary.failure, "answered \"OK\\n\"");
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

TEST_F(UploaderTest, SecureChannelFailureEndsTheTickAndKeepsEveryFile) {
  for (int i = 1; i <= 3; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
  for (const char* failure : {"TLS certificate not trusted", "TLS failed: handshake"}) {
    bodies.clear();
    reply = [failure](const std::string&) {
      platform::HttpExchange exchange;
      exchange.reached = true;
      exchange.failure = failure;
      return exchange;
    };
    UploadSummary summary = Tick();
    EXPECT_EQ(summary.posted, 1) << failure;
    EXPECT_TRUE(summary.ended) << failure;
    EXPECT_EQ(summary.unanswered, 0) << failure;
    EXPECT_EQ(summary.failure, failure);
    EXPECT_EQ(folder.Names().size(), 3u) << failure;
  }
  for (int tick = 0; tick < 3; ++tick) Tick();
  EXPECT_EQ(env.Printed().find("got no answer"), std::string::npos) << env.Printed();
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
  // Named once, in one line, after the third tick in a row (after the
  // reason, told once at the first tick).
  EXPECT_EQ(env.Printed(), "\nUpload not accepted: no answer\nUpload of " + folder.file("1.txt") +
                               " got no answer in 3 ticks in a row");
}

TEST_F(UploaderTest, ATickWithAnAnswerStartsTheCountAgain) {
  folder.Write("1.txt", "{}");
  int call = 0;
  reply = [&call](const std::string&) {
    return ++call == 3 ? Answer(500, u"") : ReachedWithoutAnswer();
  };
  for (int tick = 1; tick <= 5; ++tick) Tick();  // none, none, 500, none, none
  EXPECT_EQ(env.Printed().find("got no answer"), std::string::npos) << env.Printed();
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

TEST_F(UploaderTest, AcceptedFileThatCannotBeDeletedIsToldOnceAndNeverPostedAgain) {
  folder.Write("1.txt", "{\"n\":1}");
  folder.Write("2.txt", "{\"n\":2}");
  env.deleteFile = [](const std::string&) { return platform::Status::Failed("Permission denied"); };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 2);
  EXPECT_EQ(summary.accepted, 2);
  EXPECT_EQ(summary.undeleted, 2);
  EXPECT_EQ(summary.failure, "accepted but not deleted: Permission denied");
  const std::string told =
      "\nUpload of " + folder.file("1.txt") +
      " accepted, but the file cannot be deleted: Permission denied\nUpload of " +
      folder.file("2.txt") + " accepted, but the file cannot be deleted: Permission denied";
  EXPECT_EQ(env.Printed(), told);

  // Later ticks only try the deletes again; a new sample goes as usual.
  folder.Write("3.txt", "{\"n\":3}");
  for (int tick = 0; tick < 3; ++tick) {
    summary = Tick();
    EXPECT_EQ(summary.undeleted, 3) << tick;
    EXPECT_EQ(summary.failure, "accepted but not deleted: Permission denied") << tick;
  }
  EXPECT_EQ(bodies, (std::vector<std::string>{"[{\"n\":1}]", "[{\"n\":2}]", "[{\"n\":3}]"}));
  EXPECT_EQ(env.Printed(), told + "\nUpload of " + folder.file("3.txt") +
                               " accepted, but the file cannot be deleted: Permission denied");

  // Deletable again: the files go without another post.
  env.deleteFile = nullptr;
  summary = Tick();
  EXPECT_EQ(summary.posted, 0);
  EXPECT_EQ(summary.undeleted, 0);
  EXPECT_EQ(summary.failure, "");
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(bodies.size(), 3u);
}

TEST_F(UploaderTest, AcceptedFileThatVanishedInsteadOfBeingDeletedIsNoFault) {
  folder.Write("1.txt", "{}");
  env.deleteFile = [](const std::string& path) {
    std::filesystem::remove(path);  // someone else was quicker
    return platform::Status::Failed("No such file or directory");
  };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.accepted, 1);
  EXPECT_EQ(summary.undeleted, 0);
  EXPECT_EQ(summary.failure, "");
  EXPECT_EQ(env.Printed(), "");
}

TEST_F(UploaderTest, OnlySpoolFilesArePostedAndAnyOtherFileIsNamedOnce) {
  folder.Write("notes.txt", "not JSON");
  folder.Write("1765240265123 (copy).txt", "{\"copy\":1}");
  folder.Write("1765240265123.txt", "{}");
  folder.Write("1765240265124.writing", "{\"i\":");
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 1);
  EXPECT_EQ(bodies, std::vector<std::string>{"[{}]"});
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"1765240265123 (copy).txt",
                                                      "1765240265124.writing", "notes.txt"}));
  const std::string told =
      "\nNot a spool file, left in place: " + folder.file("1765240265123 (copy).txt") +
      "\nNot a spool file, left in place: " + folder.file("notes.txt");
  EXPECT_EQ(env.Printed(), told);
  Tick();
  EXPECT_EQ(env.Printed(), told);
  // Taken away and put back: named again.
  std::filesystem::remove(folder.file("notes.txt"));
  Tick();
  folder.Write("notes.txt", "again");
  Tick();
  EXPECT_EQ(env.Printed(), told + "\nNot a spool file, left in place: " + folder.file("notes.txt"));
  EXPECT_EQ(bodies.size(), 1u);
}

platform::HttpExchange Failed(bool reached, const std::string& failure) {
  platform::HttpExchange exchange;
  exchange.reached = reached;
  exchange.failure = failure;
  return exchange;
}

TEST_F(UploaderTest, WhyPostsAreNotAcceptedIsToldWhenTheReasonChanges) {
  for (int i = 1; i <= 3; ++i) folder.Write(std::to_string(i) + ".txt", "{}");
  int post = 0;
  struct Step {
    std::function<platform::HttpExchange()> reply;
    const char* told;  // the line printed by the tick, "" for none
    const char* failure;
  };
  const Step steps[] = {
      {[] { return Answer(200, u"OK\n"); }, "\nUpload not accepted: answered \"OK\\n\"",
       "answered \"OK\\n\""},
      {[] { return Answer(200, u"OK\n"); }, "", "answered \"OK\\n\""},
      {[] { return Answer(201, u"OK"); }, "\nUpload not accepted: status 201", "status 201"},
      // A new text at every post is one reason, told once.
      {[&post] { return Answer(200, u"id " + std::u16string(1, u'0' + post++ % 10)); },
       "\nUpload not accepted: answered \"id 0\"", "answered \"id 2\""},
      {[&post] { return Answer(200, u"id " + std::u16string(1, u'0' + post++ % 10)); }, "",
       "answered \"id 5\""},
      {[] { return Failed(true, "TLS certificate not trusted"); },
       "\nUpload not accepted: TLS certificate not trusted", "TLS certificate not trusted"},
      {[] { return Failed(false, ""); }, "\nUpload not accepted: receiver not reached",
       "receiver not reached"},
      {[] { return Failed(false, "Connection refused"); },
       "\nUpload not accepted: receiver not reached: Connection refused",
       "receiver not reached: Connection refused"},
      {[] { return Failed(true, ""); }, "\nUpload not accepted: no answer", "no answer"},
  };
  for (const Step& step : steps) {
    const std::string before = env.Printed();
    reply = [&step](const std::string&) { return step.reply(); };
    UploadSummary summary = Tick();
    EXPECT_EQ(env.Printed().substr(before.size()), step.told) << step.failure;
    EXPECT_EQ(summary.failure, step.failure);
  }
  EXPECT_EQ(folder.Names().size(), 3u);

  // Once every post is accepted, the same failure is news again.
  reply = [](const std::string&) { return Answer(200, u"OK"); };
  Tick();
  folder.Write("4.txt", "{}");
  const std::string before = env.Printed();
  reply = [](const std::string&) { return Failed(true, ""); };
  Tick();
  EXPECT_EQ(env.Printed().substr(before.size()), "\nUpload not accepted: no answer");
}

TEST(UploadFailureTextTest, ReceiverTextsStayOnOneLineAndShort) {
  struct Case {
    std::u16string text;
    std::string words;
  };
  const Case cases[] = {
      {u"", "answered \"\""},
      {u"OK\r\n", "answered \"OK\\r\\n\""},
      {u"a\tb\x01", "answered \"a\\tb\\x01\""},
      {std::u16string(80, u'x'), "answered \"" + std::string(80, 'x') + "\""},
      {std::u16string(81, u'x'), "answered \"" + std::string(80, 'x') + "...\""},
  };
  for (const Case& c : cases) EXPECT_EQ(UploadFailureText(Answer(200, c.text)), c.words);
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(UploaderTest, AFolderFullOfFilesToTellOfIsCountedBeyondTenNames) {
  for (int i = 0; i < 25; ++i) {
    folder.Write(FormatText("%02d.txt", i), "{}");
    folder.Write(FormatText("copy %02d.txt", i), "{}");
  }
  env.deleteFile = [](const std::string&) {
    return platform::Status::Failed("Read-only file system");
  };
  UploadSummary summary = Tick();
  EXPECT_EQ(summary.posted, 25);
  EXPECT_EQ(summary.undeleted, 25);
  const std::string printed = env.Printed();
  EXPECT_EQ(Count(printed, "\nNot a spool file, left in place: "), 10);
  EXPECT_EQ(Count(printed, "\nNot spool files, left in place: 15 more in " + folder.path()), 1);
  EXPECT_EQ(Count(printed, " accepted, but the file cannot be deleted: Read-only file system"), 10);
  EXPECT_EQ(Count(printed,
                  "\nUploads accepted, but 15 more files cannot be deleted: "
                  "Read-only file system"),
            1);
  // Every one of them counts as told: nothing more at the next tick.
  Tick();
  EXPECT_EQ(env.Printed(), printed);
  EXPECT_EQ(bodies.size(), 25u);
}

TEST_F(UploaderTest, FilesRefusedEachForAReasonOfItsOwnAreToldOfOnce) {
  folder.Write("1.txt", "{\"n\":1}");
  folder.Write("2.txt", "{\"n\":2}");
  bool firstRefused = true;
  reply = [&firstRefused](const std::string& body) {
    if (body == "[{\"n\":1}]") return firstRefused ? Answer(500, u"") : Answer(200, u"OK");
    return Answer(200, u"busy");
  };
  for (int tick = 0; tick < 4; ++tick) Tick();
  EXPECT_EQ(env.Printed(),
            "\nUpload not accepted: status 500\nUpload not accepted: answered \"busy\"");
  // The 500 goes away for a tick and comes back: news again.
  firstRefused = false;
  Tick();
  firstRefused = true;
  folder.Write("1.txt", "{\"n\":1}");
  Tick();
  EXPECT_EQ(Count(env.Printed(), "status 500"), 2);
  EXPECT_EQ(Count(env.Printed(), "busy"), 1);
}

}  // namespace
