#include "common/utf.h"

#include <cstdint>

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    unsigned char lead = bytes[i];
    uint32_t code = 0xFFFD;
    std::size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if (lead >= 0xC2 && lead <= 0xF4) {
      std::size_t need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
      uint32_t value = lead & (0x3F >> need);
      std::size_t k = 1;
      for (; k <= need && i + k < size && (bytes[i + k] & 0xC0) == 0x80; ++k) {
        value = (value << 6) | (bytes[i + k] & 0x3F);
      }
      if (k == need + 1) {
        bool overlong = (need == 2 && value < 0x800) || (need == 3 && value < 0x10000);
        bool surrogate = value >= 0xD800 && value <= 0xDFFF;
        if (!overlong && !surrogate && value <= 0x10FFFF) code = value;
        length = need + 1;
      } else {
        length = k;  // skip the broken sequence up to the offending byte
      }
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}
