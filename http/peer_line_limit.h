// Keeps the lines about a peer's refused connections or failed signatures to
// one a minute per address, each with the number of events since the last
// one: a peer that retries in a loop must not flood the log.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

constexpr int64_t kPeerLineIntervalMs = 60000;

class PeerLineLimit {
 public:
  // Counts one event of address at nowMs (a monotonic clock). True when its
  // line is due now, with *count the events since the last line, this one
  // included: the first event of an address is told at once.
  bool Note(const std::string& address, int64_t nowMs, uint64_t* count);

 private:
  struct Entry {
    int64_t toldAtMs = 0;
    uint64_t untold = 0;
  };
  // Addresses remembered at most; beyond it the quiet ones are forgotten.
  static constexpr std::size_t kMaxAddresses = 4096;

  std::mutex mutex_;  // guards entries_: connection threads note at once
  std::map<std::string, Entry> entries_;
};
