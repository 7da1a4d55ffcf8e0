#include "opc/value_text.h"

#include <cmath>
#include <cstdlib>

#include "common/text.h"
#include "common/text_helpers.h"
#include "platform/codepage.h"

namespace {

const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kMonthNames[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// "%A,%B%d,%Y" of an OLE date's calendar day; empty outside the years 100 to
// 9999 that the OLE date conversion accepts.
std::string OleDateText(double date) {
  if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0) return "";
  int64_t days = static_cast<int64_t>(date);  // truncated toward zero
  // 1899-12-30 is day 0; convert to days since 1970-01-01 (civil algorithm).
  int64_t z = days - 25569 + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1;
  int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  int64_t weekday = ((days - 25569) % 7 + 7 + 4) % 7;  // 1970-01-01 was a Thursday
  return FormatText("%s,%s%02d,%d", kDayNames[weekday], kMonthNames[month - 1],
                    static_cast<int>(day), static_cast<int>(year));
}

bool IsBlank(char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

// The leading decimal floating-point number; 0 when there is none.
double LeadingReal(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t mark = i++;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exponentDigits;
    if (exponentDigits == 0) i = mark;
  }
  return std::strtod(text.substr(start, i - start).c_str(), nullptr);
}

}  // namespace

int32_t TimeStampSeconds(uint64_t fileTime, int32_t biasSeconds) {
  uint64_t seconds = (fileTime - 116444736000000000ULL) / 10000000ULL;
  uint64_t bias = static_cast<uint64_t>(static_cast<int64_t>(biasSeconds));
  return static_cast<int32_t>(static_cast<uint32_t>(seconds - bias));
}

std::string ValueRecord(const RecordFormat& format, const std::string& name,
                        const std::string& value, const opc::ItemState& state) {
  std::string record =
      ValueRecord(name, value, TimeStampSeconds(state.timeStamp, format.timebias));
  if (!format.quality) return record;
  record.pop_back();
  return record + ",\"q\":" + std::to_string(state.quality) + "}";
}

std::string ValueRecord(const std::string& name, const std::string& value, int32_t t) {
  return "{\"i\":\"" + JsonEscape(name) + "\",\"v\":\"" + JsonEscape(value) +
         "\",\"t\":" + std::to_string(t) + "}";
}

std::string VariantToText(const opc::Variant& value) {
  switch (value.vt) {
    case opc::VT_I2:
    case opc::VT_BOOL:  // the 16 bits as the server sent them: -1 for VARIANT_TRUE
      return std::to_string(static_cast<int16_t>(value.integer));
    case opc::VT_I4:
      return std::to_string(static_cast<int32_t>(value.integer));
    case opc::VT_R4:
      return FormatText("%f", static_cast<double>(static_cast<float>(value.real)));
    case opc::VT_R8:
      return FormatText("%f", value.real);
    case opc::VT_DATE:
      return OleDateText(value.real);
    case opc::VT_BSTR:
      return platform::Utf16ToAnsi(value.text);
    case opc::VT_UI1:
      return std::to_string(static_cast<uint8_t>(value.integer));
    default:
      return "";
  }
}

opc::Variant TextToVariant(int32_t type, const std::string& text) {
  opc::Variant value;
  value.vt = static_cast<uint16_t>(type);
  switch (type) {
    case opc::VT_I2:
      value.integer = static_cast<int16_t>(ParseLeadingIntegerSaturating(text));
      break;
    case opc::VT_UI2:
      value.integer = static_cast<uint16_t>(ParseLeadingIntegerSaturating(text));
      break;
    case opc::VT_I4:
    case opc::VT_INT:
      value.integer = ParseLeadingIntegerSaturating(text);
      break;
    case opc::VT_UI4:
    case opc::VT_UINT:
      value.integer = static_cast<uint32_t>(ParseLeadingIntegerSaturating(text));
      break;
    case opc::VT_R4:
      value.real = static_cast<double>(static_cast<float>(LeadingReal(text)));
      break;
    case opc::VT_R8:
      value.real = LeadingReal(text);
      break;
    case opc::VT_BOOL: {
      // True goes out as VARIANT_TRUE (-1), COM's only true value: some
      // servers compare with it and take 1 for something else.
      std::string lower = AsciiLower(text);
      value.integer = (lower == "true" || lower == "1") ? -1 : 0;
      break;
    }
    case opc::VT_I1:
      value.integer = text.empty() ? 0 : static_cast<int8_t>(text[0]);
      break;
    case opc::VT_UI1:
      value.integer = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
      break;
    case opc::VT_BSTR:
      value.text = platform::AnsiToUtf16(text);
      break;
    default:
      value.vt = opc::VT_BSTR;
      value.text = platform::AnsiToUtf16(text);
      break;
  }
  return value;
}
