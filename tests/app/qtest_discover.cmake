# Lists the test functions of a QtTest program (its -functions option) and writes one
# CTest entry for each into CTEST_FILE, run on the offscreen platform with TEST_ENV.
# Called after the program is linked (tests/app/CMakeLists.txt).
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
          ${TEST_EXECUTABLE} -functions
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TEST_EXECUTABLE} -functions failed (${status}):\n${listing}${errors}")
endif()
string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" functions "${listing}")
set(script "")
foreach(function IN LISTS functions)
  string(REPLACE "()" "" function "${function}")
  set(name "${TEST_PREFIX}.${function}")
  string(APPEND script "add_test([=[${name}]=] [=[${TEST_EXECUTABLE}]=] ${function})\n"
         "set_tests_properties([=[${name}]=] PROPERTIES LABELS ${TEST_PREFIX} "
         "ENVIRONMENT [=[QT_QPA_PLATFORM=offscreen;${TEST_ENV}]=])\n")
endforeach()
file(WRITE "${CTEST_FILE}" "${script}")
