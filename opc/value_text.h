// Value texts: how the agent renders an OPC value as text, makes a value of an
// item's type from a text, and writes the record that carries one value
// through the HTTP API and the spool files. Pure functions; safe from any
// thread.
#pragma once

#include <cstdint>
#include <string>

#include "opc/opc_server.h"

// Text of a value as the agent reports it; empty for unsupported types.
std::string VariantToText(const opc::Variant& value);

// A value of the item's canonical type made from a text. For an integer
// type (VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT) the text, blanks
// trimmed, must be an optional sign and decimal digits within the type's
// range; for VT_R4 and VT_R8 a decimal number the type can hold. Any other
// text gives false and leaves value as it was: a typo must not reach the
// device as 0. Booleans, strings and the character types take every text.
bool TextToVariant(int32_t type, const std::string& text, opc::Variant* value);

// What a numeric type takes, for the operator ("a whole number from 0 to
// 65535", "a number"); empty for the types that take every text.
std::string NumberRule(int32_t type);

// How value records are written, as the operator set it.
struct RecordFormat {
  // Seconds subtracted from UTC in every record's t: eight hours unless set
  // (receivers rely on it); 0 gives plain Unix time.
  int32_t timebias = 28800;
  // Whether each record carries the item's OPC quality as "q" after "t".
  bool quality = false;
};

// {"i":"name","v":"value","t":t}; name and value escaped for JSON, so a tag
// name with a quote cannot break the answer or an upload that carries it.
std::string ValueRecord(const std::string& name, const std::string& value, int32_t t);

// The record of one read value: t from the state's timestamp and the format's
// bias, and with format.quality {"i":..,"v":..,"t":t,"q":quality} where quality
// is the 16-bit OPC quality as a number.
std::string ValueRecord(const RecordFormat& format, const std::string& name,
                        const std::string& value, const opc::ItemState& state);

// The record's t of a FILETIME: whole seconds since 1970 minus biasSeconds,
// computed modulo 2^64 and cut to 32 bits (receivers rely on exactly this).
int32_t TimeStampSeconds(uint64_t fileTime, int32_t biasSeconds = 28800);
