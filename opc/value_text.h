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

// {"i":"name","v":"value","t":t}; name and value escaped for JSON, so a tag
// name with a quote cannot break the answer or an upload that carries it.
std::string ValueRecord(const std::string& name, const std::string& value, int32_t t);

// The record's t of a FILETIME: whole seconds since 1970 minus eight hours,
// computed modulo 2^64 and cut to 32 bits (receivers rely on exactly this).
int32_t TimeStampSeconds(uint64_t fileTime);
