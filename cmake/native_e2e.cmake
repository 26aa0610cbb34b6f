# End-to-end tests: the launcher's x86_64 build run under Wine and driven like
# a user would drive it (tests/e2e). They need the x86_64 build directory with
# KvWin101.exe and the helper programs; one Wine prefix serves the whole run.
if(KV_WIN64_BUILD_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME e2e_under_wine
    COMMAND ${Python3_EXECUTABLE} -m unittest discover -v -s ${CMAKE_SOURCE_DIR}/tests/e2e -p "test_*.py"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  set_tests_properties(e2e_under_wine PROPERTIES
    ENVIRONMENT "KV_WIN64_BUILD_DIR=${KV_WIN64_BUILD_DIR};KV_E2E_OUT=${CMAKE_BINARY_DIR}/e2e;PYTHONDONTWRITEBYTECODE=1"
    # Wine's prefix set-up takes about 10 s and each scenario a second or two;
    # the bound leaves room for a slow machine, not for a hang.
    TIMEOUT 600
    RUN_SERIAL TRUE
    LABELS e2e)
endif()
