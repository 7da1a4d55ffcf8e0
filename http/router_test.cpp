#include "http/router.h"

#include <gtest/gtest.h>

#include "common/text_helpers.h"
#include "http/http_server.h"
#include "platform/env.h"

namespace {

std::string Md5Of(const std::string& text) {
  DigestFunctions digest;
  return Md5Hex(&digest, text);
}

TEST(Envelopes, Table) {
  EXPECT_EQ(DataEnvelope("[{\"i\":\"a\"}]"), "{\"code\":200,\"data\":[{\"i\":\"a\"}]}");
  EXPECT_EQ(DataEnvelope("{not json"), "{\"code\":200,\"data\":{not json}");
  EXPECT_EQ(DataEnvelope("[]"), "{\"code\":200,\"data\":[]}");
  EXPECT_EQ(DataEnvelope("No Tags"), "{\"code\":201,\"msg\":\"No Tags\"}");
  EXPECT_EQ(DataEnvelope(""), "{\"code\":201,\"msg\":\"\"}");
  EXPECT_EQ(DataEnvelope("TimeOut"), "{\"code\":201,\"msg\":\"TimeOut\"}");
  EXPECT_EQ(WriteEnvelope("ok"), "{\"code\":200,\"data\":\"ok\"}");
  EXPECT_EQ(WriteEnvelope("OK"), "{\"code\":201,\"msg\":\"OK\"}");
  EXPECT_EQ(WriteEnvelope("error"), "{\"code\":201,\"msg\":\"error\"}");
  // A failure text with quotes or line ends still gives valid JSON.
  EXPECT_EQ(WriteEnvelope("bad \"x\"\n\\"), "{\"code\":201,\"msg\":\"bad \\\"x\\\"\\n\\\\\"}");
}

TEST(ApiOperations, EachKindSubmitsItsArgumentAndWrapsInItsEnvelope) {
  std::vector<BridgeRequest> seen;
  ApiAccess access{"", [&](BridgeRequest request) {
                     seen.push_back(request);
                     return std::string("ok");
                   }};
  const std::string params = "group=g&item=i&tags=T&tagkvs=A:1&filters=F";
  const std::string answers[] = {"{\"code\":200,\"data\":\"ok\"}", "{\"code\":201,\"msg\":\"ok\"}",
                                 "{\"code\":201,\"msg\":\"ok\"}"};
  const char* codes[] = {"40", "30", "50"};
  for (int n = 0; n < 3; ++n) {
    HttpResponse response(platform::kInvalidSocket, "1.0");
    ASSERT_TRUE(AnswerRequestText(
        access, std::string("POST /?c=") + codes[n] + " HTTP/1.0\r\n\r\n" + params, &response));
    const std::string& sent = response.sentText;
    EXPECT_EQ(sent.substr(sent.find("\r\n\r\n") + 4), answers[n]) << codes[n];
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], (BridgeRequest{&kWriteKind, "g", "i", "A:1"}));
  EXPECT_EQ(seen[1], (BridgeRequest{&kReadKind, "g", "i", "T"}));
  EXPECT_EQ(seen[2], (BridgeRequest{&kListKind, "g", "i", "F"}));
}

TEST(StatusRequest, AnsweredByTheRouterUnderTheSignatureRulesWithoutTheBridge) {
  bool reached = false;
  int reports = 0;
  ApiAccess access{"secret",
                   [&](BridgeRequest) {
                     reached = true;
                     return std::string("[]");
                   },
                   [&] {
                     ++reports;
                     return std::string("{\"version\":\"1.0\"}");
                   }};
  auto answer = [&](const std::string& request) {
    HttpResponse response(platform::kInvalidSocket, "1.0");
    AnswerRequestText(access, request, &response);
    return response.sentText.substr(response.sentText.find("\r\n\r\n") + 4);
  };
  const std::string signedHead = "POST /?c=60 HTTP/1.0\r\nsign: " + Md5Of("secret") + "\r\n\r\n";
  EXPECT_EQ(answer(signedHead), "{\"code\":200,\"data\":{\"version\":\"1.0\"}}");
  EXPECT_EQ(answer("POST /?c=60 HTTP/1.0\r\n\r\n"), "{\"code\":401,\"msg\":\"Auth failed\"}");
  EXPECT_EQ(answer("GET /?c=60 HTTP/1.0\r\n\r\n"), "{\"code\":400,\"msg\":\"bad request\"}");
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(reached);

  // Without a status function the code is one of the unknown ones.
  access.status = nullptr;
  EXPECT_EQ(answer(signedHead), "{\"code\":200,\"msg\":\"ok\"}");
  EXPECT_FALSE(reached);
}

// The body of the answer to a POST with c=30 in its query, the headers and
// body given; *reached tells whether the request went to the bridge.
std::string Route(const std::string& key, const std::string& rest, bool* reached) {
  *reached = false;
  ApiAccess access{key, [reached](BridgeRequest) {
                     *reached = true;
                     return std::string("[]");
                   }};
  HttpResponse response(platform::kInvalidSocket, "1.0");
  AnswerRequestText(access, "POST /?c=30 HTTP/1.0" + rest, &response);
  return response.sentText.substr(response.sentText.find("\r\n\r\n") + 4);
}

TEST(Signature, Cases) {
  const std::string body = "tags=Level";
  const std::string good = Md5Of(body + "secret");
  std::string lower = good;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  bool reached = false;
  const std::string auth = "{\"code\":401,\"msg\":\"Auth failed\"}";

  EXPECT_EQ(Route("secret", "\r\nsign: " + good + "\r\n\r\n" + body, &reached),
            "{\"code\":200,\"data\":[]}");
  EXPECT_TRUE(reached);
  EXPECT_NE(Route("secret", "\r\nsign: " + lower + "\r\n\r\n" + body, &reached), auth);
  EXPECT_TRUE(reached);
  EXPECT_EQ(Route("secret", "\r\nsign: " + good + "\r\n\r\ntags=Levem", &reached), auth);
  EXPECT_FALSE(reached);
  EXPECT_EQ(Route("secret", "\r\nSign: " + good + "\r\n\r\n" + body, &reached), auth);
  EXPECT_EQ(Route("secret", "\r\n\r\n" + body, &reached), auth);
  EXPECT_EQ(Route("secret", "\r\nsign: \r\n\r\n" + body, &reached), auth);
  EXPECT_FALSE(reached);
  // Parameters in the query only: the digest of the key alone.
  EXPECT_NE(Route("secret", "\r\nsign: " + Md5Of("secret") + "\r\n\r\n", &reached), auth);
  EXPECT_TRUE(reached);

  EXPECT_NE(Route("", "\r\nsign: wrong\r\n\r\n" + body, &reached), auth);
  EXPECT_TRUE(reached);
}

TEST(Signature, QueryCannotReplaceASignedBodyParameter) {
  // A body signed for a read, and a query that would turn it into a write.
  struct Case {
    std::string key, query, body;
    std::string answer;     // the answer's body
    std::string submitted;  // the argument that reached the bridge, "-" for none
  } cases[] = {
      {"secret", "?c=40&tagkvs=Setpoint:55", "c=30&tags=Setpoint",
       "{\"code\":401,\"msg\":\"Auth failed\"}", "-"},
      // One shared name is enough, whatever its value.
      {"secret", "?c=30", "c=30&tags=Setpoint", "{\"code\":401,\"msg\":\"Auth failed\"}", "-"},
      {"secret", "?group=A", "c=30&group=B&tags=T", "{\"code\":401,\"msg\":\"Auth failed\"}", "-"},
      // The query may add what the body lacks.
      {"secret", "?c=30", "tags=Setpoint", "{\"code\":200,\"data\":[]}", "Setpoint"},
      // Without a key nothing is signed: the query's value is used, as always.
      {"", "?c=30&tags=Q", "c=40&tags=B", "{\"code\":200,\"data\":[]}", "Q"},
  };
  for (const Case& c : cases) {
    std::string submitted = "-";
    ApiAccess access{c.key, [&submitted](BridgeRequest request) {
                       submitted = request.argument;
                       return std::string("[]");
                     }};
    HttpResponse response(platform::kInvalidSocket, "1.0");
    AnswerRequestText(
        access,
        "POST /" + c.query + " HTTP/1.0\r\nsign: " + Md5Of(c.body + c.key) + "\r\n\r\n" + c.body,
        &response);
    const std::string& sent = response.sentText;
    EXPECT_EQ(sent.substr(sent.find("\r\n\r\n") + 4), c.answer) << c.query << " + " << c.body;
    EXPECT_EQ(submitted, c.submitted) << c.query << " + " << c.body;
  }
}

TEST(Signature, ConstantTimeEquals) {
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_TRUE(ConstantTimeEquals("ABC", "ABC"));
  EXPECT_FALSE(ConstantTimeEquals("ABC", "ABD"));
  EXPECT_FALSE(ConstantTimeEquals("ABC", "AB"));
}

TEST(AllowList, WholeAddressesAndRanges) {
  struct Case {
    std::string list, peer;
    bool allowed;
  } cases[] = {
      {"", "10.0.0.5", true},
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "27.0.0.1", false},
      {"127.0.0.1", "10.0.0.5", false},
      {"192.168.1.10,192.168.1.20", "192.168.1.1", false},
      {"192.168.1.10,192.168.1.20", "192.168.1.20", true},
      {"192.168.1.10;192.168.1.20", "192.168.1.10", true},
      {"192.168.1.10 \t192.168.1.20", "192.168.1.20", true},
      {" , 127.0.0.1 ;", "127.0.0.1", true},
      {"10.0.0.0/8", "10.200.3.4", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"192.168.4.0/22", "192.168.7.255", true},
      {"192.168.4.0/22", "192.168.8.0", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"10.0.0.1/33", "10.0.0.1", false},
      {"junk", "127.0.0.1", false},
      {"127.0.0.1", "127.0.0.1x", false},
      {"256.0.0.1,127.0.0.1", "127.0.0.1", true},
  };
  for (const Case& c : cases) {
    HttpSettings settings;
    settings.allowList = c.list;
    HttpServer server(settings, nullptr, platform::Env::Default());
    EXPECT_EQ(server.IsPeerAllowed(c.peer), c.allowed) << c.list << " / " << c.peer;
  }
}

TEST(Response, HeadIsByteExact) {
  HttpResponse response(platform::kInvalidSocket, "2.5");
  EXPECT_EQ(
      response.BuildHeaders(200, 23),
      "HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/2.5\r\nContent-Type:text/html;charset=UTF-8\r\n"
      "Content-length:23\r\n\r\n");
  EXPECT_EQ(response.BuildHeaders(200, 23), "");
  HttpResponse empty(platform::kInvalidSocket, "2.5");
  EXPECT_EQ(
      empty.BuildHeaders(299, 0),
      "HTTP/1.0 299 \r\nServer:TALVERO AGENT/2.5\r\nContent-Type:text/html;charset=UTF-8\r\n\r\n");
  HttpResponse twice(platform::kInvalidSocket, "2.5");
  twice.SendAnswer("a");
  const std::size_t first = twice.sentText.size();
  twice.SendAnswer("bc");
  EXPECT_EQ(twice.sentText.substr(first), "bc");
}

TEST(Response, StatusTable) {
  EXPECT_EQ(StatusReason(200), "OK");
  EXPECT_EQ(StatusReason(413), "Request Entity Too Large");
  EXPECT_EQ(StatusReason(505), "HTTP Version Not Supported");
  EXPECT_EQ(StatusReason(418), "");
}

TEST(Response, LengthCountsUtf8Bytes) {
  HttpResponse response(platform::kInvalidSocket, "1.0");
  const std::string body = AnsiToUtf8(Utf8ToAnsi("{\"msg\":\"\xC3\xA9\"}"));
  response.SendAnswer(body);
  EXPECT_NE(response.sentText.find("Content-length:" + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(body.size(), 12u);
}

}  // namespace
