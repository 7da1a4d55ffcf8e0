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

// A value of the item's canonical type made from a text.
opc::Variant TextToVariant(int32_t type, const std::string& text);

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
