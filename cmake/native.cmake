# Native build: the logic's unit tests and the host tools.
enable_testing()
find_package(GTest REQUIRED)

add_executable(kv_unit_tests
  tests/unit/installation_check_test.cpp
  tests/unit/update_run_test.cpp
  tests/unit/texts_test.cpp
  tests/unit/icon_position_test.cpp
  tests/unit/sha256_test.cpp)
target_link_libraries(kv_unit_tests PRIVATE kv_logic GTest::gtest_main)
target_include_directories(kv_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
include(GoogleTest)
gtest_discover_tests(kv_unit_tests)

# The payload encoder tool, its tests, fuzzing and benchmark.
include(cmake/native_lzss.cmake OPTIONAL)
# Resource read-back and the end-to-end tests of the Windows builds under Wine.
include(cmake/native_e2e.cmake OPTIONAL)

# The shipped i686 program read back: headers, imports and resources.
if(KV_WIN32_BUILD_DIR)
  add_test(NAME program_headers_and_resources
           COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/resources/check_program.py
                   ${KV_WIN32_BUILD_DIR}/KvWin101.exe i686-w64-mingw32-objdump)
endif()

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set(KV_SANITIZE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_library(kv_logic_sanitized STATIC ${KV_LOGIC_SOURCES})
target_include_directories(kv_logic_sanitized PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kv_logic_sanitized PUBLIC ${KV_CHARSET_OPTIONS} ${KV_SANITIZE_OPTIONS})
target_link_options(kv_logic_sanitized PUBLIC ${KV_SANITIZE_OPTIONS})
add_executable(kv_unit_tests_sanitized $<TARGET_PROPERTY:kv_unit_tests,SOURCES>)
target_include_directories(kv_unit_tests_sanitized PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(kv_unit_tests_sanitized PRIVATE kv_logic_sanitized GTest::gtest_main)
add_test(NAME unit_tests_under_sanitizers COMMAND kv_unit_tests_sanitized)

include(cmake/fuzz.cmake)
kv_add_fuzzer(installation_fuzz SOURCES tests/fuzz/installation_fuzz.cpp)

# Two builds from fresh clones in different folders give the same program.
add_test(NAME reproducible_build
         COMMAND ${CMAKE_SOURCE_DIR}/tests/reproducible/check.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/kvlzss)
set_tests_properties(reproducible_build PROPERTIES TIMEOUT 900)
