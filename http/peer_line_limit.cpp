#include "http/peer_line_limit.h"

bool PeerLineLimit::Note(const std::string& address, int64_t nowMs, uint64_t* count) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto found = entries_.find(address);
  if (found == entries_.end()) {
    if (entries_.size() >= kMaxAddresses) {
      // A flood from many addresses: forget those told of over a minute ago.
      for (auto it = entries_.begin(); it != entries_.end();) {
        it = nowMs - it->second.toldAtMs >= kPeerLineIntervalMs ? entries_.erase(it) : ++it;
      }
      if (entries_.size() >= kMaxAddresses) {
        *count = 1;
        return false;
      }
    }
    entries_[address] = Entry{nowMs, 0};
    *count = 1;
    return true;
  }
  Entry& entry = found->second;
  ++entry.untold;
  if (nowMs - entry.toldAtMs < kPeerLineIntervalMs) return false;
  *count = entry.untold;
  entry.untold = 0;
  entry.toldAtMs = nowMs;
  return true;
}
