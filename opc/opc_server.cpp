#include "opc/opc_server.h"

#include <cstdio>

namespace opc {

const ClassId kCatidOpcDaServer20 = ClassIdFromText("63D5F432-CFE4-11D1-B2C8-0060083BA1FB");

namespace {
int HexValue(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}
}  // namespace

ClassId ClassIdFromText(const std::string& text) {
  ClassId id{};
  std::string digits;
  std::string body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') body = body.substr(1, 36);
  if (body.size() != 36 || body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') {
    return ClassId{};
  }
  for (char ch : body) {
    if (ch == '-') continue;
    if (HexValue(ch) < 0) return ClassId{};
    digits.push_back(ch);
  }
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    bytes[i] = static_cast<uint8_t>(HexValue(digits[2 * i]) * 16 + HexValue(digits[2 * i + 1]));
  }
  // Data1, Data2 and Data3 are stored little-endian; Data4 as written.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) id[i] = bytes[order[i]];
  return id;
}

std::string ClassIdToText(const ClassId& id) {
  char text[40];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", id[3],
                id[2], id[1], id[0], id[5], id[4], id[7], id[6], id[8], id[9], id[10], id[11],
                id[12], id[13], id[14], id[15]);
  return text;
}

}  // namespace opc
