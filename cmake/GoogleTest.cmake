# CMake's GoogleTest module, with one change for the whole project: the tests
# of a parameterised suite are named by the suite's name generator alone.
# Otherwise gtest_discover_tests keeps the printed parameter (for a record,
# its bytes) in every discovered test's name. Found first through
# CMAKE_MODULE_PATH wherever a test folder includes GoogleTest.
include_guard(GLOBAL)
include(${CMAKE_ROOT}/Modules/GoogleTest.cmake)

function(gtest_discover_tests)
  _gtest_discover_tests(${ARGV} NO_PRETTY_VALUES)
endfunction()
