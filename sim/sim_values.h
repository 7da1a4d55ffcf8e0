// The simulation server's values: conversion between variant types, and the
// behaviours that make an item's value change over time. Pure functions of
// their input; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "opc/opc_server.h"
#include "sim/sim_config.h"

namespace sim {

constexpr uint64_t kFileTimeSecond = 10000000ULL;  // FILETIME units per second

// Converts a value to a type the way VariantChangeType does (a value of the
// type itself copied as it is; otherwise numbers rounded and range-checked,
// texts parsed, VT_BOOL as -1/0). False when the value
// cannot be represented in the type.
bool ChangeVariantType(const opc::Variant& from, uint16_t type, opc::Variant* to);

// The whole text as a finite decimal number (blanks around it allowed); false
// when it is empty or anything else is left over.
bool ParseNumber(const std::string& text, double* value);

// The current UTC time as a FILETIME from the standard library clock.
uint64_t SystemFileTimeNow();

// One item of a server object's address space.
struct ItemRuntime {
  ItemConfig config;
  opc::Variant value;    // static value, or the last written value
  uint64_t changed = 0;  // FILETIME of the static value or the last write
  bool written = false;
};

// A new item as a server object created at the FILETIME created holds it: a
// static item has the configured value in its canonical type (or an empty
// value of that type when the text does not convert).
ItemRuntime NewItemRuntime(const ItemConfig& config, uint64_t created);

// The item's value and its time stamp at the FILETIME now, for a server object
// created at created. Behaviours change once a second from creation (the sine
// continuously); a write holds until the behaviour's next change.
void CurrentValue(const ItemRuntime& item, uint64_t created, uint64_t now, opc::Variant* value,
                  uint64_t* stamp);

}  // namespace sim
