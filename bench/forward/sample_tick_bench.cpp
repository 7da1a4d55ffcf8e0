// The cost of one sampling tick over 10 000 items whose values all changed:
// copying the names and values under the session lock, building the records,
// and writing the spool file durably. The OPC server's own read time is not
// part of it (the read here hands over values held in memory).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "forward/sampler.h"
#include "opc/value_text.h"

int main(int argc, char** argv) {
  const int itemCount = 10000;
  const int ticks = argc > 1 ? std::atoi(argv[1]) : 50;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "talvero-bench-sample";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  OpcSession session;
  session.connected = 1;
  for (int i = 0; i < itemCount; ++i) {
    OpcItem item;
    item.tagName = "Tag" + std::to_string(i);
    session.items.push_back(item);
  }
  int round = 0;
  SamplerContext context;
  context.env = platform::Env::Default();
  context.session = &session;
  context.folder = folder.string();
  context.read = [&session, &round](int32_t count, std::vector<ItemValue>* values) {
    values->clear();
    for (int32_t i = 0; i < count; ++i) {
      std::string text = std::to_string(round * 1000 + i) + ".500000";
      values->push_back(ItemValue{session.items[i].tagName, text,
                                  ValueRecord(session.items[i].tagName, text, 1796771780)});
    }
    return true;
  };
  SamplerState state;
  std::vector<double> costs;
  for (int t = 0; t < ticks; ++t) {
    ++round;
    auto start = std::chrono::steady_clock::now();
    SampleTickWith(context, &state);
    costs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(costs.begin(), costs.end());
  std::size_t files = 0;
  for (auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file();
  std::printf("sampling tick, %d items all changed: median %.2f ms, max %.2f ms over %d ticks (%zu files)\n",
              itemCount, costs[costs.size() / 2], costs.back(), ticks, files);
  std::filesystem::remove_all(folder);
  return 0;
}
