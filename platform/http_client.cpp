// What both builds' HTTP clients share.
#include "platform/http_client.h"

namespace platform {

const char kAnswerTooLarge[] = "answer too large";

bool IsSecureChannelFailure(const HttpExchange& exchange) {
  return !exchange.answered && exchange.failure.rfind("TLS ", 0) == 0;
}

bool IsSendableHeader(const HttpHeader& header) {
  if (header.name.empty()) return false;
  for (char16_t c : header.name) {
    if (c == u':' || c == u'\r' || c == u'\n' || c == u' ' || c == u'\t') return false;
  }
  for (char16_t c : header.value) {
    if (c == u'\r' || c == u'\n') return false;
  }
  return true;
}

}  // namespace platform
