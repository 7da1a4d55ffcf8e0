# libFuzzer target for the HTTP request path. Optional: configure with clang
# and -DTALVERO_FUZZ=ON, then run build/request-path-fuzz fuzz/corpus.
option(TALVERO_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(TALVERO_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_executable(request-path-fuzz ${CMAKE_SOURCE_DIR}/fuzz/request_path_fuzz.cpp)
  target_compile_options(request-path-fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(request-path-fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(request-path-fuzz PRIVATE talvero_core)
endif()
