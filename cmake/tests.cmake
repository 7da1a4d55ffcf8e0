# One unit-test binary per build, from every *_test.cpp beside the code it tests.
enable_testing()

file(GLOB_RECURSE test_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*_test.cpp ${CMAKE_SOURCE_DIR}/opc/*_test.cpp
  ${CMAKE_SOURCE_DIR}/bridge/*_test.cpp ${CMAKE_SOURCE_DIR}/http/*_test.cpp
  ${CMAKE_SOURCE_DIR}/forward/*_test.cpp ${CMAKE_SOURCE_DIR}/common/*_test.cpp
  ${CMAKE_SOURCE_DIR}/platform/*_test.cpp ${CMAKE_SOURCE_DIR}/sim/*_test.cpp
  ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
if(WIN32)
  list(FILTER test_sources EXCLUDE REGEX "/posix/")
else()
  list(FILTER test_sources EXCLUDE REGEX "/windows/")
endif()

if(WIN32)
  # Debian's googletest package ships its sources; the cross build compiles them.
  set(gtest_root /usr/src/googletest/googletest)
  add_library(gtest_cross STATIC ${gtest_root}/src/gtest-all.cc ${gtest_root}/src/gtest_main.cc)
  target_include_directories(gtest_cross PUBLIC ${gtest_root}/include PRIVATE ${gtest_root})
  target_compile_options(gtest_cross PRIVATE -Wno-error)
  set(gtest_libs gtest_cross)
else()
  find_package(GTest REQUIRED)
  set(gtest_libs GTest::gtest GTest::gtest_main)
endif()

add_executable(talvero-tests ${test_sources})
target_link_libraries(talvero-tests PRIVATE talvero_core ${gtest_libs})
target_compile_definitions(talvero-tests PRIVATE TALVERO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

if(WIN32)
  # Each Windows test runs in a Wine prefix of its own, made on first use:
  # every test ends its Wine session when it is done, which would end the
  # programs of any other test in the same prefix, and with a prefix each the
  # tests can run side by side. scripts/test removes them for a fresh start.
  set(wine_prefixes ${CMAKE_BINARY_DIR}/wineprefixes)
  # Under Wine the unit tests run through the script that owns the prefix.
  add_test(NAME wine_unit
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:talvero-tests>)
  set_tests_properties(wine_unit PROPERTIES LABELS "wine;unit" TIMEOUT 600
    ENVIRONMENT "WINEPREFIX=${wine_prefixes}/wine_unit")
else()
  add_test(NAME unit COMMAND talvero-tests)
  set_tests_properties(unit PROPERTIES LABELS unit TIMEOUT 600)
endif()

# End-to-end tests: the same Python suites run the Linux executable natively
# and, in the cross build, the Windows executable under Wine.
find_program(PYTHON3 python3 REQUIRED)
set(e2e_suites)
if(TALVERO_BUILD_AGENT)
  file(GLOB e2e_suites CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
endif()
foreach(suite ${e2e_suites})
  get_filename_component(suite_name ${suite} NAME_WE)
  set(test_environment
    "TALVERO_AGENT=$<TARGET_FILE:talvero-agent>;TALVERO_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(WIN32)
    set(test_name wine_${suite_name})
    set(test_labels "wine;e2e")
    list(APPEND test_environment "WINEPREFIX=${wine_prefixes}/${test_name}")
  else()
    set(test_name e2e_${suite_name})
    set(test_labels e2e)
  endif()
  add_test(NAME ${test_name}
    COMMAND ${PYTHON3} -m unittest -v ${suite_name}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  set_tests_properties(${test_name} PROPERTIES LABELS "${test_labels}" TIMEOUT 900
    ENVIRONMENT "${test_environment}")
endforeach()
