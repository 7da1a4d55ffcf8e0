#include "sim/sim_values.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "common/text.h"
#include "common/utf.h"

namespace sim {

namespace {

bool IsIntegerType(uint16_t type) {
  switch (type) {
    case opc::VT_I1:
    case opc::VT_I2:
    case opc::VT_I4:
    case opc::VT_I8:
    case opc::VT_UI1:
    case opc::VT_UI2:
    case opc::VT_UI4:
    case opc::VT_UI8:
    case opc::VT_INT:
    case opc::VT_UINT:
    case opc::VT_ERROR:
      return true;
    default:
      return false;
  }
}

bool IntegerRange(uint16_t type, double* low, double* high) {
  switch (type) {
    case opc::VT_I1:
      *low = -128;
      *high = 127;
      return true;
    case opc::VT_UI1:
      *low = 0;
      *high = 255;
      return true;
    case opc::VT_I2:
      *low = -32768;
      *high = 32767;
      return true;
    case opc::VT_UI2:
      *low = 0;
      *high = 65535;
      return true;
    case opc::VT_I4:
    case opc::VT_INT:
      *low = -2147483648.0;
      *high = 2147483647.0;
      return true;
    case opc::VT_UI4:
    case opc::VT_UINT:
      *low = 0;
      *high = 4294967295.0;
      return true;
    case opc::VT_I8:
      *low = -9223372036854775808.0;
      *high = 9223372036854775807.0;
      return true;
    case opc::VT_UI8:
      *low = 0;
      *high = 18446744073709551615.0;
      return true;
    default:
      return false;
  }
}

// The numeric value of a variant; false for texts that are no number and for
// types without one.
bool NumericValue(const opc::Variant& from, double* value) {
  if (IsIntegerType(from.vt)) {
    *value = from.vt == opc::VT_UI8 ? static_cast<double>(static_cast<uint64_t>(from.integer))
                                    : static_cast<double>(from.integer);
    return true;
  }
  switch (from.vt) {
    case opc::VT_EMPTY:
      *value = 0;
      return true;
    case opc::VT_BOOL:
      *value = from.integer != 0 ? -1 : 0;
      return true;
    case opc::VT_CY:
      *value = static_cast<double>(from.integer) / 10000.0;
      return true;
    case opc::VT_R4:
    case opc::VT_R8:
    case opc::VT_DATE:
      *value = from.real;
      return true;
    case opc::VT_BSTR:
      return ParseNumber(Utf16ToUtf8(from.text), value);
    default:
      return false;
  }
}

std::string NumberText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

// The generated value of a changing behaviour, before conversion to the
// item's type.
opc::Variant BehaviourValue(const ItemConfig& config, uint64_t ticks, uint64_t elapsed) {
  opc::Variant generated;
  generated.vt = opc::VT_R8;
  switch (config.behaviour) {
    case Behaviour::kRamp: {
      double low = config.numbers[0], high = config.numbers[1], step = config.numbers[2];
      uint64_t steps = static_cast<uint64_t>(std::floor((high - low) / step)) + 1;
      generated.real = low + step * static_cast<double>(ticks % steps);
      break;
    }
    case Behaviour::kRandom: {
      uint64_t mix = (ticks + 1) * 6364136223846793005ULL + std::hash<std::string>()(config.itemId);
      mix ^= mix >> 29;
      mix *= 0xBF58476D1CE4E5B9ULL;
      mix ^= mix >> 32;
      double unit = static_cast<double>(mix % 1000001ULL) / 1000000.0;
      generated.real = config.numbers[0] + (config.numbers[1] - config.numbers[0]) * unit;
      break;
    }
    case Behaviour::kSine: {
      double seconds = static_cast<double>(elapsed) / kFileTimeSecond;
      generated.real =
          config.numbers[0] * std::sin(2 * 3.14159265358979323846 * seconds / config.numbers[1]);
      break;
    }
    case Behaviour::kToggle:
      generated.vt = opc::VT_BOOL;
      generated.integer = ticks % 2 == 1 ? -1 : 0;
      break;
    case Behaviour::kStatic:
      break;
  }
  return generated;
}

}  // namespace

bool ParseNumber(const std::string& text, double* value) {
  std::string trimmed = TrimBlanks(text);
  if (trimmed.empty()) return false;
  char* end = nullptr;
  double parsed = std::strtod(trimmed.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

uint64_t SystemFileTimeNow() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  int64_t units = std::chrono::duration_cast<std::chrono::microseconds>(since).count() * 10;
  return static_cast<uint64_t>(units) + 116444736000000000ULL;
}

bool ChangeVariantType(const opc::Variant& from, uint16_t type, opc::Variant* to) {
  // A value of the type itself is copied as it is, as the COM conversion
  // does: a VT_BOOL that a client sent as 1 stays 1.
  if (from.vt == type) {
    *to = from;
    return true;
  }
  opc::Variant result;
  result.vt = type;
  if (type == opc::VT_BSTR) {
    if (from.vt == opc::VT_BSTR) {
      result.text = from.text;
    } else if (from.vt == opc::VT_BOOL) {
      result.text = from.integer != 0 ? u"True" : u"False";
    } else if (from.vt == opc::VT_EMPTY) {
      result.text.clear();
    } else {
      double value = 0;
      if (!NumericValue(from, &value)) return false;
      result.text = Utf8ToUtf16(NumberText(value));
    }
    *to = result;
    return true;
  }
  if (type == opc::VT_BOOL) {
    if (from.vt == opc::VT_BSTR) {
      std::string text = AsciiLower(TrimBlanks(Utf16ToUtf8(from.text)));
      if (text == "true") {
        result.integer = -1;
      } else if (text == "false") {
        result.integer = 0;
      } else {
        double value = 0;
        if (!ParseNumber(text, &value)) return false;
        result.integer = value != 0 ? -1 : 0;
      }
    } else {
      double value = 0;
      if (!NumericValue(from, &value)) return false;
      result.integer = value != 0 ? -1 : 0;
    }
    *to = result;
    return true;
  }
  double value = 0;
  if (!NumericValue(from, &value)) return false;
  if (type == opc::VT_R4) {
    if (std::fabs(value) > 3.402823466e38) return false;
    result.real = static_cast<double>(static_cast<float>(value));
  } else if (type == opc::VT_R8 || type == opc::VT_DATE) {
    result.real = value;
  } else if (type == opc::VT_CY) {
    double scaled = std::nearbyint(value * 10000.0);
    if (std::fabs(scaled) >= 9.2e18) return false;
    result.integer = static_cast<int64_t>(scaled);
  } else {
    double low = 0, high = 0;
    if (!IntegerRange(type, &low, &high)) return false;
    double rounded = std::nearbyint(value);  // round half to even, as the COM conversion does
    if (rounded < low || rounded > high) return false;
    if (type == opc::VT_UI8) {
      result.integer = static_cast<int64_t>(static_cast<uint64_t>(rounded));
    } else {
      result.integer = static_cast<int64_t>(rounded);
    }
  }
  *to = result;
  return true;
}

ItemRuntime NewItemRuntime(const ItemConfig& config, uint64_t created) {
  ItemRuntime item;
  item.config = config;
  item.changed = created;
  if (config.behaviour == Behaviour::kStatic) {
    opc::Variant text;
    text.vt = opc::VT_BSTR;
    text.text = Utf8ToUtf16(config.staticText);
    if (!ChangeVariantType(text, config.type, &item.value)) {
      item.value = opc::Variant{};
      item.value.vt = config.type;
    }
  }
  return item;
}

void CurrentValue(const ItemRuntime& item, uint64_t created, uint64_t now, opc::Variant* value,
                  uint64_t* stamp) {
  const ItemConfig& config = item.config;
  if (config.behaviour == Behaviour::kStatic) {
    *value = item.value;
    *stamp = item.changed;
    return;
  }
  uint64_t elapsed = now > created ? now - created : 0;
  uint64_t ticks = elapsed / kFileTimeSecond;
  uint64_t tickTime = created + ticks * kFileTimeSecond;
  // A write holds until the behaviour's next change.
  if (item.written && item.changed >= tickTime && config.behaviour != Behaviour::kSine) {
    *value = item.value;
    *stamp = item.changed;
    return;
  }
  *stamp = config.behaviour == Behaviour::kSine ? now : tickTime;
  opc::Variant generated = BehaviourValue(config, ticks, elapsed);
  if (!ChangeVariantType(generated, config.type, value)) {
    value->vt = config.type;
    value->integer = 0;
    value->real = 0;
  }
}

}  // namespace sim
