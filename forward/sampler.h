// The sampler: each tick turns the values that changed since the previous
// sampling read into one spool file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/text_helpers.h"
#include "forward/spool_file.h"
#include "opc/opc_session.h"
#include "opc/tag_operations.h"
#include "platform/env.h"

// The sampling read: the values of the first count items of the table, in
// table order (the OPC client's ReadItemValues); false when the read failed.
// Called with the session lock held.
using SamplingRead = std::function<bool(int32_t count, std::vector<ItemValue>* values)>;

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
  // The value text this sampler last forwarded for each item of the table,
  // by position, for the item set of version forwardedItemSet; only touched
  // while busy is held. No API read changes it, so a value an API caller was
  // shown still reaches the receiver.
  std::vector<std::string> forwarded;
  uint64_t forwardedItemSet = 0;
  // For the status report, read from any thread: when the last sampling read
  // succeeded (ms since 1970, 0 before the first) and how many have failed.
  std::atomic<int64_t> lastReadMs{0};
  std::atomic<int64_t> readFailures{0};
};

// One tick. Reads under the session lock, then writes the sample outside it.
// The sample holds the records of the items whose value text differs from
// what this sampler last forwarded. When it cannot be written the tick prints
// an error line with the cause, creates the folder again and gives the record
// back its previous values, so the next tick reports those values again.
void SampleTickWith(const SamplerContext& context, SamplerState* state);
