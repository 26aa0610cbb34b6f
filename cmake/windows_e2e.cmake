# Helper programs of the end-to-end tests, built beside the launcher for each
# Windows architecture (the x86_64 ones run under Wine; the i686 ones only show
# that the sources stay right for both).
#   kvdriver: finds the launcher's windows, reads their texts, presses buttons.
#   kvhold:   holds a file open with a given share mode, or keeps a window open.
foreach(helper kvdriver kvhold)
  add_executable(${helper} ${CMAKE_SOURCE_DIR}/tests/e2e/helpers/${helper}.cpp)
  target_compile_options(${helper} PRIVATE ${KV_CHARSET_OPTIONS})
  target_link_options(${helper} PRIVATE -static -s)
endforeach()

# Update programs of the end-to-end tests:
#   test_update: what it does is chosen by the test (tests/update_programs/test_update.cpp);
#   decoy:       planted where an unquoted path with spaces would split; must never run.
# KvWin101_test is the launcher built around test_update.
add_executable(kv_test_update WIN32 ${CMAKE_SOURCE_DIR}/tests/update_programs/test_update.cpp)
set_target_properties(kv_test_update PROPERTIES OUTPUT_NAME test_update)
add_executable(kv_decoy WIN32 ${CMAKE_SOURCE_DIR}/tests/update_programs/decoy.cpp)
set_target_properties(kv_decoy PROPERTIES OUTPUT_NAME decoy)
foreach(program kv_test_update kv_decoy)
  target_link_options(${program} PRIVATE -static -mwindows -s)
endforeach()
if(COMMAND kv_add_launcher)
  kv_add_launcher(KvWin101_test kv_test_update)
endif()
