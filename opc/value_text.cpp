#include "opc/value_text.h"

#include <cmath>
#include <cstdint>
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

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// The range of each integer type a write takes as a number.
struct IntegerRange {
  uint16_t type;
  int64_t low;
  int64_t high;
};
const IntegerRange kIntegerRanges[] = {
    {opc::VT_I2, -32768, 32767},        {opc::VT_UI2, 0, 65535},
    {opc::VT_I4, INT32_MIN, INT32_MAX}, {opc::VT_INT, INT32_MIN, INT32_MAX},
    {opc::VT_UI4, 0, UINT32_MAX},       {opc::VT_UINT, 0, UINT32_MAX},
};

const IntegerRange* IntegerRangeOf(int32_t type) {
  for (const IntegerRange& range : kIntegerRanges) {
    if (range.type == type) return &range;
  }
  return nullptr;
}

// An optional sign and decimal digits, nothing else, within range.
bool WholeInteger(const std::string& text, const IntegerRange& range, int64_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > UINT32_MAX + int64_t{1}) return false;  // out of every range; no overflow
  }
  int64_t number = negative ? -magnitude : magnitude;
  if (number < range.low || number > range.high) return false;
  *value = number;
  return true;
}

// A decimal number: an optional sign, digits with at most one decimal point
// (one digit at least), an optional exponent with digits; nothing else. Hex,
// "inf" and "nan", which the C library would also take, are no such number.
bool WholeReal(const std::string& text, double* value) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  if (i != text.size()) return false;
  double number = std::strtod(text.c_str(), nullptr);
  if (!std::isfinite(number)) return false;  // beyond the type, as 1e999
  *value = number;
  return true;
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

std::string NumberRule(int32_t type) {
  if (const IntegerRange* range = IntegerRangeOf(type)) {
    return "a whole number from " + std::to_string(range->low) + " to " +
           std::to_string(range->high);
  }
  if (type == opc::VT_R4 || type == opc::VT_R8) return "a number";
  return "";
}

bool TextToVariant(int32_t type, const std::string& text, opc::Variant* value) {
  opc::Variant made;
  made.vt = static_cast<uint16_t>(type);
  if (const IntegerRange* range = IntegerRangeOf(type)) {
    if (!WholeInteger(TrimBlanks(text), *range, &made.integer)) return false;
    *value = made;
    return true;
  }
  switch (type) {
    case opc::VT_R4: {
      double number = 0;
      if (!WholeReal(TrimBlanks(text), &number)) return false;
      float single = static_cast<float>(number);
      if (!std::isfinite(single)) return false;
      made.real = static_cast<double>(single);
      break;
    }
    case opc::VT_R8:
      if (!WholeReal(TrimBlanks(text), &made.real)) return false;
      break;
    case opc::VT_BOOL: {
      // True goes out as VARIANT_TRUE (-1), COM's only true value: some
      // servers compare with it and take 1 for something else. A read shows
      // true as "-1", so that text is true too: a value read and written
      // back must not turn false.
      std::string lower = AsciiLower(TrimBlanks(text));
      made.integer = (lower == "true" || lower == "1" || lower == "-1") ? -1 : 0;
      break;
    }
    case opc::VT_I1:
      made.integer = text.empty() ? 0 : static_cast<int8_t>(text[0]);
      break;
    case opc::VT_UI1:
      made.integer = text.empty() ? 0 : static_cast<uint8_t>(text[0]);
      break;
    case opc::VT_BSTR:
      made.text = platform::AnsiToUtf16(text);
      break;
    default:
      made.vt = opc::VT_BSTR;
      made.text = platform::AnsiToUtf16(text);
      break;
  }
  *value = made;
  return true;
}
