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
