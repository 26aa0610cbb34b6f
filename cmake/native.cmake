# Native build: the logic's unit tests and the host tools.
enable_testing()
find_package(GTest REQUIRED)

add_executable(kv_unit_tests
  tests/unit/installation_check_test.cpp
  tests/unit/update_run_test.cpp
  tests/unit/texts_test.cpp
  tests/unit/icon_position_test.cpp)
target_link_libraries(kv_unit_tests PRIVATE kv_logic GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(kv_unit_tests)
