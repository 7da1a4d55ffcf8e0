// libFuzzer target for the request path (build with cmake/parts/fuzz.cmake).
#include <cstddef>
#include <cstdint>

#include "fuzz/request_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ExerciseRequestPath(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
