#include "forward/sampler.h"

#include <mutex>
#include <vector>

#include "common/console_output.h"

void SampleTickWith(const SamplerContext& context, SamplerState* state) {
  OpcSession* session = context.session;
  if (session == nullptr) return;
  if (context.stopRequested && context.stopRequested()) return;
  bool expected = false;
  if (!state->busy.compare_exchange_strong(expected, true)) return;

  std::vector<std::string> previousForwarded;
  std::string sample;
  {
    std::lock_guard<std::mutex> hold(session->lock);
    if (session->connected != 0) {
      if (state->forwardedItemSet != session->itemSetVersion ||
          state->forwarded.size() != session->items.size()) {
        // A new item set starts with nothing forwarded: every value that is
        // not empty is reported.
        state->forwarded.assign(session->items.size(), std::string());
        state->forwardedItemSet = session->itemSetVersion;
      }
      std::vector<ItemValue> values;
      bool read = false;
      {
        WatchedCall watched(session->calls, "Read (sampling)");
        read = context.read(static_cast<int32_t>(session->items.size()), &values);
      }
      if (!read) {
        state->readFailures.fetch_add(1);
      } else {
        // An empty table asks the server nothing: no read to count.
        if (!session->items.empty()) state->lastReadMs.store(context.env->NowMilliseconds());
        previousForwarded = state->forwarded;
        for (std::size_t i = 0; i < values.size() && i < state->forwarded.size(); ++i) {
          if (values[i].text == state->forwarded[i]) continue;
          state->forwarded[i] = values[i].text;
          if (!sample.empty()) sample += ",";
          sample += values[i].record;
        }
      }
    }
  }

  if (!sample.empty()) {
    std::string path;
    std::string error;
    platform::Env* env = context.env;
    if (!state->writer.Write(env, context.folder, sample, env->NowMilliseconds(), &path, &error)) {
      PrintErrorLine(env, "\nSpool write failed: " + error, true);
      env->MakeDirectory(context.folder);
      // The values were not kept anywhere: forget that they were
      // forwarded, so the next read finds them changed.
      state->forwarded = std::move(previousForwarded);
    }
    if (context.showread) PrintText(env, "\nRead:" + sample);
  }
  state->busy.store(false);
}
