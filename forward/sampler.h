// The sampler: each tick turns the values that changed since the previous
// sampling read into one spool file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/text_helpers.h"
#include "forward/spool_file.h"
#include "opc/opc_session.h"
#include "platform/env.h"

// The sampling read: the comma-joined value records of the first count items
// whose value text changed since their last read (it updates their
// lastValue), or the empty text. Called with the session lock held.
using SamplingRead = std::function<std::string(int32_t count, TextList names)>;

// What one sampler is handed by its owner; the agent's sampler gets the
// process-wide session, the OPC client's read, the spool folder and showread.
struct SamplerContext {
  platform::Env* env = nullptr;  // files, clock and console
  OpcSession* session = nullptr;
  SamplingRead read;
  std::string folder;     // where spool files go
  bool showread = false;  // print "\nRead:" and each sample
  // True once the owner wants the sampler to end (the agent is stopping): a
  // tick that sees it takes no sample. Empty: never.
  std::function<bool()> stopRequested;
};

// The state one sampler keeps between ticks. Used by the sampler's own
// worker thread; busy also turns away a tick that overlaps a running one.
struct SamplerState {
  std::atomic<bool> busy{false};
  SpoolWriter writer;  // only touched while busy is held
};

// One tick. Reads under the session lock, then writes the sample outside it.
// When the sample cannot be written it prints an error line with the cause,
// creates the folder again and restores the lastValue entries the read
// replaced, so the next tick reports those values again.
void SampleTickWith(const SamplerContext& context, SamplerState* state);
