#include "http/http_request.h"

#include <gtest/gtest.h>

#include "http/http_server.h"
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

TEST(ParseHeaders, FirstValueWinsAndNamesAreCaseSensitive) {
  HttpRequest request;
  std::string body =
      ParseHeaders(&request, "\r\nsign: ABC\r\nsign:XYZ\r\nSign: Q\r\nnocolon\r\n:x\r\n\r\nBODY");
  EXPECT_EQ(body, "BODY");
  EXPECT_EQ(request.headers.at("sign"), "ABC");
  EXPECT_EQ(request.headers.at("Sign"), "Q");
  EXPECT_EQ(request.headers.size(), 2u);
}

TEST(ParseHeaders, BodyPastContentLengthIsKeptWhole) {
  HttpRequest request;
  EXPECT_EQ(ParseHeaders(&request, "\r\nContent-Length: 2\r\n\r\nc=10&x"), "c=10&x");
}

TEST(ParseHeaders, HeadWithoutEmptyLine) {
  HttpRequest request;
  // The body is taken four bytes past the last line end: the tail of the last line.
  EXPECT_EQ(ParseHeaders(&request, "\r\nA: 1\r\nc=10&x=1"), "10&x=1");
  EXPECT_EQ(request.headers.at("A"), "1");
  HttpRequest empty;
  EXPECT_EQ(ParseHeaders(&empty, ""), "");
  EXPECT_EQ(ParseHeaders(&empty, "\r\n"), "");
}

// Answers a request text with a server whose bridge is a recorder.
struct Harness {
  HttpServer server{"1.0", "", ""};
  std::vector<BridgeRequest> submitted;
  std::string answer = "[1]";
  Harness() {
    server.submit = [this](BridgeRequest request) {
      submitted.push_back(request);
      return answer;
    };
  }
  // The sent text, or "<closed>" when the request was closed unanswered.
  std::string Send(const std::string& text) {
    HttpRequest request;
    HttpResponse response(platform::kInvalidSocket, &request);
    last = HttpRequest();
    if (!AnswerRequestText(&server, text, &response, &request)) return "<closed>";
    last = request;
    return response.sentText;
  }
  HttpRequest last;
};

std::string Head(std::size_t length) {
  return "HTTP/1.0 200 OK\r\nServer:TALVERO AGENT/1.0\r\nContent-Type:text/html;charset=UTF-8\r\n"
         "Content-length:" + std::to_string(length) + "\r\n\r\n";
}

TEST(HandleRequest, MinimalPostIsParsed) {
  Harness h;
  EXPECT_EQ(h.Send("POST /?c=10 HTTP/1.0\r\n\r\n"), Head(23) + kOkBody);
  EXPECT_EQ(h.last.method, "POST");
  EXPECT_EQ(h.last.params, (std::map<std::string, std::string>{{"c", "10"}}));
  EXPECT_TRUE(h.last.headers.empty());
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
  EXPECT_EQ(h.submitted[0].at("c"), "30");
  EXPECT_EQ(h.submitted[0].at("tags"), "A");
  EXPECT_EQ(h.submitted[0].at("group"), "g");
  EXPECT_EQ(h.submitted[0].size(), 4u);

  struct Route {
    std::string c;
    std::string kind;  // empty: answered without the bridge
  } routes[] = {{"30abc", "30"}, {"+40", "40"}, {"50", "50"}, {"10", ""}, {"20", ""},
                {"31", ""},      {"", ""},      {"x", ""},   {"99999999999999999999", ""}};
  for (const Route& route : routes) {
    h.submitted.clear();
    std::string sent = h.Send("POST / HTTP/1.0\r\n\r\nc=" + route.c);
    if (route.kind.empty()) {
      EXPECT_EQ(sent, Head(23) + kOkBody) << route.c;
      EXPECT_TRUE(h.submitted.empty()) << route.c;
    } else {
      ASSERT_EQ(h.submitted.size(), 1u) << route.c;
      EXPECT_EQ(h.submitted[0].at("c"), route.kind);
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
  EXPECT_EQ(ClassifyRequest("POST / HTTP/1.0\r\n\r\nbody without length"),
            RequestState::kComplete);
}

}  // namespace
