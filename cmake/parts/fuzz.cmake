# libFuzzer target for the HTTP request path. Optional: `scripts/build fuzz`
# configures it with clang and -DTALVERO_FUZZ=ON; then run
# build-fuzz/request-path-fuzz over a copy of fuzz/corpus.
option(TALVERO_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(TALVERO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TALVERO_FUZZ needs clang (scripts/build fuzz)")
  endif()
  # The whole core is instrumented, not only the target's own file: the fuzzer
  # follows the coverage of the parsing code, and the sanitizers watch it.
  # The test binary of this build links the same core and so runs under the
  # same sanitizers.
  set(fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  target_compile_options(talvero_core PUBLIC -fsanitize=fuzzer-no-link ${fuzz_sanitizers}
                         -fno-omit-frame-pointer)
  target_link_options(talvero_core INTERFACE ${fuzz_sanitizers})
  add_executable(request-path-fuzz ${CMAKE_SOURCE_DIR}/fuzz/request_path_fuzz.cpp)
  target_compile_options(request-path-fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(request-path-fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(request-path-fuzz PRIVATE talvero_core)
endif()
