#include "http/router.h"

#include <gtest/gtest.h>

#include "common/text_helpers.h"
#include "http/http_server.h"

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

TEST(ApiOperations, BuildFourEntryRequests) {
  std::vector<BridgeRequest> seen;
  SubmitFunction submit = [&](BridgeRequest request) {
    seen.push_back(request);
    return std::string("ok");
  };
  EXPECT_EQ(ApiWriteTags(submit, "g", "i", "A:1"), "{\"code\":200,\"data\":\"ok\"}");
  EXPECT_EQ(ApiReadTags(submit, "g", "i", "A"), "{\"code\":201,\"msg\":\"ok\"}");
  EXPECT_EQ(ApiBrowseTags(submit, "g", "i", ""), "{\"code\":201,\"msg\":\"ok\"}");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], (BridgeRequest{{"c", "40"}, {"group", "g"}, {"item", "i"}, {"tagkvs", "A:1"}}));
  EXPECT_EQ(seen[1], (BridgeRequest{{"c", "30"}, {"group", "g"}, {"item", "i"}, {"tags", "A"}}));
  EXPECT_EQ(seen[2], (BridgeRequest{{"c", "50"}, {"group", "g"}, {"item", "i"}, {"filters", ""}}));
}

std::string Route(HttpServer* server, const std::string& rest, bool* reached) {
  *reached = false;
  server->submit = [reached](BridgeRequest) {
    *reached = true;
    return std::string("[]");
  };
  HttpRequest request;
  HttpResponse response(platform::kInvalidSocket, &request);
  request.versionText = "1.0";
  request.AddParam("c", "30");
  RouteRequest(server, &request, &response, rest);
  return response.sentText.substr(response.sentText.find("\r\n\r\n") + 4);
}

TEST(Signature, Cases) {
  HttpServer keyed("1.0", "secret", "");
  const std::string body = "tags=Level";
  const std::string good = Md5Of(body + "secret");
  std::string lower = good;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  bool reached = false;
  const std::string auth = "{\"code\":401,\"msg\":\"Auth failed\"}";

  EXPECT_EQ(Route(&keyed, "\r\nsign: " + good + "\r\n\r\n" + body, &reached), "{\"code\":200,\"data\":[]}");
  EXPECT_TRUE(reached);
  EXPECT_NE(Route(&keyed, "\r\nsign: " + lower + "\r\n\r\n" + body, &reached), auth);
  EXPECT_TRUE(reached);
  EXPECT_EQ(Route(&keyed, "\r\nsign: " + good + "\r\n\r\ntags=Levem", &reached), auth);
  EXPECT_FALSE(reached);
  EXPECT_EQ(Route(&keyed, "\r\nSign: " + good + "\r\n\r\n" + body, &reached), auth);
  EXPECT_EQ(Route(&keyed, "\r\n\r\n" + body, &reached), auth);
  EXPECT_EQ(Route(&keyed, "\r\nsign: \r\n\r\n" + body, &reached), auth);
  EXPECT_FALSE(reached);
  // Parameters in the query only: the digest of the key alone.
  EXPECT_NE(Route(&keyed, "\r\nsign: " + Md5Of("secret") + "\r\n\r\n", &reached), auth);
  EXPECT_TRUE(reached);

  HttpServer open("1.0", "", "");
  EXPECT_NE(Route(&open, "\r\nsign: wrong\r\n\r\n" + body, &reached), auth);
  EXPECT_TRUE(reached);
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
    HttpServer server("1.0", "", c.list);
    EXPECT_EQ(server.IsPeerAllowed(c.peer), c.allowed) << c.list << " / " << c.peer;
  }
}

TEST(Response, HeadIsByteExact) {
  HttpRequest request;
  request.versionText = "2.5";
  HttpResponse response(platform::kInvalidSocket, &request);
  EXPECT_EQ(response.BuildHeaders(200, 23),
            "HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/2.5\r\nContent-Type:text/html;charset=UTF-8\r\n"
            "Content-length:23\r\n\r\n");
  EXPECT_EQ(response.BuildHeaders(200, 23), "");
  HttpResponse empty(platform::kInvalidSocket, &request);
  EXPECT_EQ(empty.BuildHeaders(299, 0),
            "HTTP/1.0 299 \r\nServer:TALVERO AGENT/2.5\r\nContent-Type:text/html;charset=UTF-8\r\n\r\n");
  HttpResponse twice(platform::kInvalidSocket, &request);
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
  HttpRequest request;
  request.versionText = "1.0";
  HttpResponse response(platform::kInvalidSocket, &request);
  const std::string body = AnsiToUtf8(Utf8ToAnsi("{\"msg\":\"\xC3\xA9\"}"));
  response.SendAnswer(body);
  EXPECT_NE(response.sentText.find("Content-length:" + std::to_string(body.size()) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(body.size(), 12u);
}

}  // namespace
