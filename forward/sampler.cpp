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

  TextList names;
  std::vector<std::string> previousValues;
  std::string sample;
  {
    std::lock_guard<std::mutex> hold(session->lock);
    if (session->connected != 0) {
      names.reserve(session->items.size());
      previousValues.reserve(session->items.size());
      for (const OpcItem& item : session->items) {
        names.push_back(item.tagName);
        previousValues.push_back(item.lastValue);
      }
      sample = context.read(static_cast<int32_t>(names.size()), names);
    }
  }

  if (!sample.empty()) {
    std::string path;
    std::string error;
    platform::Env* env = context.env;
    if (!state->writer.Write(env, context.folder, sample, env->NowMilliseconds(), &path, &error)) {
      PrintErrorLine(env, "\nSpool write failed: " + error, true);
      env->MakeDirectory(context.folder);
      // The values were not kept anywhere: give the items back the values
      // they had before this read, so the next read finds them changed. Items
      // that a reload replaced meanwhile start empty and are reported anyway.
      std::lock_guard<std::mutex> hold(session->lock);
      for (std::size_t i = 0; i < previousValues.size() && i < session->items.size(); ++i) {
        if (session->items[i].tagName == names[i]) session->items[i].lastValue = previousValues[i];
      }
    }
    if (context.showread) PrintText(env, "\nRead:" + sample);
  }
  state->busy.store(false);
}
