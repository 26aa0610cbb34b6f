# The payload encoder: the library, the command-line tool kvlzss, its unit
# tests, its fuzzer, the read-back of the built launchers' payload and the
# benchmark.
add_library(kv_lzss_encoder STATIC tools/lzss/lzss_encoder.cpp)
target_include_directories(kv_lzss_encoder PUBLIC ${CMAKE_SOURCE_DIR})

# kvlzss sits at the top of the build folder, where the Windows builds look for it.
add_executable(kvlzss tools/lzss/kvlzss_main.cpp)
target_link_libraries(kvlzss PRIVATE kv_lzss_encoder kv_logic)
set_target_properties(kvlzss PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# The executables the builds make, for the round trips over real files; the
# Windows ones are there once those builds have run.
set(kv_lzss_build_files "$<TARGET_FILE:kvlzss>")
foreach(dir IN ITEMS "${KV_WIN32_BUILD_DIR}" "${KV_WIN64_BUILD_DIR}")
  if(dir)
    string(APPEND kv_lzss_build_files "\n${dir}/KvWin101.exe\n${dir}/update_sample.exe")
  endif()
endforeach()
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/lzss_build_files.txt CONTENT "${kv_lzss_build_files}\n")

add_executable(kv_lzss_tests
  tests/lzss/decoder_test.cpp
  tests/lzss/encoder_test.cpp
  tests/lzss/real_files_test.cpp)
target_link_libraries(kv_lzss_tests PRIVATE kv_lzss_encoder kv_logic GTest::gtest_main)
target_compile_definitions(kv_lzss_tests PRIVATE
  KV_LZSS_BUILD_FILE_LIST="${CMAKE_BINARY_DIR}/lzss_build_files.txt")
include(GoogleTest)
gtest_discover_tests(kv_lzss_tests)

add_test(NAME kvlzss_command_line
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/lzss/kvlzss_cli_test.sh $<TARGET_FILE:kvlzss>)

# The payload inside each built launcher decodes to the program its build embedded.
foreach(arch IN ITEMS i686 x86_64)
  if(arch STREQUAL "i686")
    set(dir "${KV_WIN32_BUILD_DIR}")
  else()
    set(dir "${KV_WIN64_BUILD_DIR}")
  endif()
  if(dir)
    add_test(NAME built_payload_${arch}
             COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/lzss/check_built_payload.py
                     ${dir}/KvWin101.exe $<TARGET_FILE:kvlzss> ${dir}/payload/KvWin101/update_program.txt)
  endif()
endforeach()

# The fuzzer (libFuzzer, run for a bounded time by the test command).
include(${CMAKE_SOURCE_DIR}/cmake/fuzz.cmake)
kv_add_fuzzer(lzss_fuzz SOURCES tools/lzss/lzss_encoder.cpp tests/lzss/lzss_fuzz.cpp)

# The benchmark; not a test: run it by hand (kv_lzss_bench in the build folder).
find_package(benchmark REQUIRED)
add_executable(kv_lzss_bench tools/lzss/lzss_bench.cpp)
target_link_libraries(kv_lzss_bench PRIVATE kv_lzss_encoder kv_logic benchmark::benchmark)
if(KV_WIN32_BUILD_DIR)
  target_compile_definitions(kv_lzss_bench PRIVATE KV_WIN32_BUILD_DIR="${KV_WIN32_BUILD_DIR}")
endif()
