#include "http/http_request.h"

#include <gtest/gtest.h>

#include "http/request_reader.h"
#include "http/router.h"

namespace {

TEST(UrlDecode, Table) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a=1&b=x%2By+z", "a=1&b=x+y z"},
      {"%41%62%7e", "Abz"[0] == 'A' ? std::string("Ab~") : ""},
      {"%4a%4A", "JJ"},
      {"cut%00here", "cut"},
      {"%", "%"},
      {"a%", "a%"},
      {"a%4", "a%4"},
      {"%%41", std::string(1, static_cast<char>(16 * ((37 - 48) & 15) + 4)) + "1"},
      {"+", " "},
      {"", ""},
      {"%E4%B8%AD", "\xE4\xB8\xAD"},
  };
  for (const Case& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << c.in;
}

TEST(UrlDecode, NeverReadsPastTheEndOfAnyPrefix) {
  const std::string text = "x=%41%4%";
  for (std::size_t k = 0; k <= text.size(); ++k) {
    // An exact-size copy lets a sanitizer see any read past the end.
    std::string prefix(text.data(), k);
    std::string decoded = UrlDecode(prefix);
    EXPECT_LE(decoded.size(), prefix.size());
  }
}

std::map<std::string, std::string> Params(const std::string& query) {
  HttpRequest request;
  ParseParams(&request, query);
  return request.params;
}

TEST(ParseParams, Table) {
  using M = std::map<std::string, std::string>;
  EXPECT_EQ(Params("a=1&b=x+y z"), (M{{"a", "1"}, {"b", "x+y z"}}));
  EXPECT_EQ(Params("a=1&a=2"), (M{{"a", "1"}}));
  EXPECT_EQ(Params("flag&x=5"), (M{{"", "flag"}, {"x", "5"}}));
  EXPECT_EQ(Params("a=1&&b=2"), (M{{"a", "1"}, {"", ""}, {"b", "2"}}));
  EXPECT_EQ(Params("a=1&"), (M{{"a", "1"}}));
  EXPECT_EQ(Params("&x=1"), (M{{"&x", "1"}}));
  EXPECT_EQ(Params("k=a=b"), (M{{"k", "a=b"}}));
  EXPECT_EQ(Params(""), M{});
  EXPECT_EQ(Params("v=\xE4\xB8\xAD"), (M{{"v", Utf8ToAnsi("\xE4\xB8\xAD")}}));
}

using Fields = std::map<std::string, std::string>;

TEST(ParseRequest, Table) {
  struct Case {
    std::string text;
    bool isRequest;
    std::string method;
    Fields params;
    Fields headers;
    std::string body;
  } cases[] = {
      {"POST /?c=10 HTTP/1.0\r\n\r\n", true, "POST", {{"c", "10"}}, {}, ""},
      {"  post /x?a=1&b=x%2By+z HTTP/1.1\r\n\r\n",
       true,
       "post",
       {{"a", "1"}, {"b", "x+y z"}},
       {},
       ""},
      // Headers: the first value of a name stays, names keep their case, lines
      // without a name are left out.
      {"POST / HTTP/1.0\r\nsign: ABC\r\nsign:XYZ\r\nSign: Q\r\nnocolon\r\n:x\r\n\r\nBODY",
       true,
       "POST",
       {{"", "BODY"}},
       {{"sign", "ABC"}, {"Sign", "Q"}},
       "BODY"},
      // The body is kept whole past a declared length.
      {"POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nc=10&x",
       true,
       "POST",
       {{"c", "10"}, {"", "x"}},
       {{"Content-Length", "2"}},
       "c=10&x"},
      // Without the empty line the body is four bytes past the last line end:
      // the tail of the last line.
      {"POST / HTTP/1.0\r\nA: 1\r\nc=10&x=1",
       true,
       "POST",
       {{"", "10"}, {"x", "1"}},
       {{"A", "1"}},
       "10&x=1"},
      // Without any line end the whole text is the rest, and its "body" starts
      // four bytes in.
      {"POST / HTTP/1.0", true, "POST", {{"", " / HTTP/1.0"}}, {}, " / HTTP/1.0"},
      {"POST / HTTP/1.0\r\n", true, "POST", {}, {}, ""},
      // The query comes first: its c wins over the body's.
      {"POST /?c=30&tags=A HTTP/1.0\r\n\r\nc=40&tags=B&group=g",
       true,
       "POST",
       {{"c", "30"}, {"tags", "A"}, {"group", "g"}},
       {},
       "c=40&tags=B&group=g"},
      // Everything after a zero byte is not looked at.
      {std::string("POST /?c=1 HTTP/1.0\r\n\r\nx=1\0y=2", 30),
       true,
       "POST",
       {{"c", "1"}, {"x", "1"}},
       {},
       "x=1"},
      {"hello there", false, "", {}, {}, ""},
      {"POST /x\r\n\r\n", false, "", {}, {}, ""},
      {" /x HTTP/1.0\r\n\r\n", false, "", {}, {}, ""},
      {"POST x HTTP/1.0\r\n", false, "", {}, {}, ""},
      {"", false, "", {}, {}, ""},
      {std::string("POST /a\0 HTTP/1.0", 17), false, "", {}, {}, ""},
  };
  for (const Case& c : cases) {
    HttpRequest request;
    ASSERT_EQ(ParseRequest(c.text, &request), c.isRequest) << c.text;
    if (!c.isRequest) continue;
    EXPECT_EQ(request.method, c.method) << c.text;
    EXPECT_EQ(request.params, c.params) << c.text;
    EXPECT_EQ(request.headers, c.headers) << c.text;
    EXPECT_EQ(request.body, c.body) << c.text;
  }
}

// Answers a request text as a connection does, with a recorder for the bridge.
struct Harness {
  std::vector<BridgeRequest> submitted;
  std::string answer = "[1]";
  ApiAccess access{"", [this](BridgeRequest request) {
                     submitted.push_back(request);
                     return answer;
                   }};
  // The sent text, or "<closed>" when the request was closed unanswered.
  std::string Send(const std::string& text) {
    HttpResponse response(platform::kInvalidSocket, "1.0");
    if (!AnswerRequestText(access, text, &response)) return "<closed>";
    return response.sentText;
  }
};

std::string Head(std::size_t length) {
  return "HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/1.0\r\nContent-Type:text/html;charset=UTF-8\r\n"
         "Content-length:" +
         std::to_string(length) + "\r\n\r\n";
}

TEST(HandleRequest, MinimalPostIsAnswered) {
  Harness h;
  EXPECT_EQ(h.Send("POST /?c=10 HTTP/1.0\r\n\r\n"), Head(23) + kOkBody);
  EXPECT_TRUE(h.submitted.empty());
}

TEST(HandleRequest, GetIsRefusedButLowerCaseGetIsNot) {
  Harness h;
  EXPECT_EQ(h.Send("GET /?c=30 HTTP/1.1\r\n\r\n"), Head(32) + kBadRequestBody);
  EXPECT_TRUE(h.submitted.empty());
  EXPECT_EQ(h.Send("get /?c=30 HTTP/1.1\r\n\r\n"), Head(23) + "{\"code\":200,\"data\":[1]}");
  EXPECT_EQ(h.submitted.size(), 1u);
}

TEST(HandleRequest, TextsThatAreNotRequestsAreClosedUnanswered) {
  Harness h;
  for (const char* text : {"hello there", "POST /x\r\n\r\n", " /x HTTP/1.0\r\n\r\n",
                           "POST x HTTP/1.0\r\n", "", "POST /a\0 HTTP/1.0"}) {
    EXPECT_EQ(h.Send(text), "<closed>") << text;
  }
}

TEST(HandleRequest, QueryBeatsBodyAndCVariantsRoute) {
  Harness h;
  h.Send("POST /?c=30&tags=A HTTP/1.0\r\n\r\nc=40&tags=B&group=g");
  ASSERT_EQ(h.submitted.size(), 1u);
  EXPECT_EQ(h.submitted[0], (BridgeRequest{&kReadKind, "g", "", "A"}));

  struct Route {
    std::string c;
    const RequestKind* kind;  // null: answered without the bridge
  } routes[] = {{"30abc", &kReadKind}, {"+40", &kWriteKind}, {"50", &kListKind},
                {"10", nullptr},       {"20", nullptr},      {"31", nullptr},
                {"", nullptr},         {"x", nullptr},       {"99999999999999999999", nullptr}};
  for (const Route& route : routes) {
    h.submitted.clear();
    std::string sent = h.Send("POST / HTTP/1.0\r\n\r\nc=" + route.c);
    if (route.kind == nullptr) {
      EXPECT_EQ(sent, Head(23) + kOkBody) << route.c;
      EXPECT_TRUE(h.submitted.empty()) << route.c;
    } else {
      ASSERT_EQ(h.submitted.size(), 1u) << route.c;
      EXPECT_EQ(h.submitted[0].kind, route.kind) << route.c;
    }
  }
}

TEST(HandleRequest, EveryTruncatedPrefixIsHandledSafely) {
  const std::string full =
      "POST /api?c=30&group=Channel1 HTTP/1.0\r\nsign: x\r\nContent-Length: 20\r\n\r\n"
      "item=Device1&tags=Le";
  const std::size_t headEnd = full.find("\r\n\r\n") + 4;
  Harness h;
  for (std::size_t k = 0; k <= full.size(); ++k) {
    const std::string prefix = full.substr(0, k);
    const RequestState state = ClassifyRequest(prefix);
    if (k < headEnd) {
      EXPECT_EQ(state, RequestState::kHeadIncomplete) << k;
    } else if (k < full.size()) {
      EXPECT_EQ(state, RequestState::kBodyIncomplete) << k;
    } else {
      EXPECT_EQ(state, RequestState::kComplete) << k;
    }
    // What the reader hands on after a silent peer: answered or closed, never more.
    std::string sent = h.Send(prefix);
    const bool hasLine = prefix.find(" HTTP/") != std::string::npos;
    EXPECT_EQ(sent == "<closed>", !hasLine) << k;
  }
}

TEST(ClassifyRequest, SizeCapAndDeclaredLengths) {
  EXPECT_EQ(ClassifyRequest(std::string(kMaxRequestBytes + 1, 'a')), RequestState::kTooLarge);
  EXPECT_EQ(ClassifyRequest(std::string(kMaxRequestBytes, 'a')), RequestState::kHeadIncomplete);
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\ncontent-length: 70000\r\n\r\n"),
            RequestState::kTooLarge);
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\nContent-Length: 99999999999\r\n\r\n"),
            RequestState::kTooLarge);
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nab"),
            RequestState::kBodyIncomplete);
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\nContent-Length: -3\r\n\r\n"),
            RequestState::kComplete);
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\n\r\nbody without length"), RequestState::kComplete);
}

}  // namespace
