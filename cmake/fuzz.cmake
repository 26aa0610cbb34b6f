# Coverage-guided fuzzers (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, from Debian's clang), each run for a bounded time
# by the test command. The logic is compiled again by clang for them.
find_program(KV_CLANGXX NAMES clang++-14 clang++ REQUIRED)
set(KV_FUZZ_SECONDS 60 CACHE STRING "How long the test command runs each fuzzer")

# kv_add_fuzzer(NAME SOURCES src... [CORPUS dir])
function(kv_add_fuzzer name)
  cmake_parse_arguments(FUZZ "" "CORPUS" "SOURCES" ${ARGN})
  set(sources)
  foreach(src IN LISTS FUZZ_SOURCES KV_LOGIC_SOURCES)
    list(APPEND sources ${CMAKE_SOURCE_DIR}/${src})
  endforeach()
  file(GLOB headers ${CMAKE_SOURCE_DIR}/install/*.h ${CMAKE_SOURCE_DIR}/update/*.h
       ${CMAKE_SOURCE_DIR}/platform/*.h ${CMAKE_SOURCE_DIR}/res/*.h ${CMAKE_SOURCE_DIR}/tests/*.h
       ${CMAKE_SOURCE_DIR}/tests/*/*.h ${CMAKE_SOURCE_DIR}/tools/*/*.h)
  set(binary ${CMAKE_BINARY_DIR}/fuzz/${name})
  add_custom_command(
    OUTPUT ${binary}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fuzz
    COMMAND ${KV_CLANGXX} -std=c++17 -g -O1 -Wall -Wextra -Werror
            -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
            -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/tests ${sources} -o ${binary}
    DEPENDS ${sources} ${headers}
    COMMENT "Building fuzzer ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${binary})
  set(corpus ${CMAKE_BINARY_DIR}/fuzz/${name}-corpus)
  set(seeds)
  if(FUZZ_CORPUS)
    set(seeds ${CMAKE_SOURCE_DIR}/${FUZZ_CORPUS})
  endif()
  add_test(NAME fuzz_${name}
           COMMAND ${CMAKE_COMMAND} -E env UBSAN_OPTIONS=halt_on_error=1
                   sh -c "mkdir -p '${corpus}' && exec '${binary}' -max_total_time=${KV_FUZZ_SECONDS} -print_final_stats=1 '${corpus}' ${seeds}")
  set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 600 LABELS fuzz)
endfunction()
