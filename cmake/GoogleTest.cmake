# CMake's GoogleTest module, with one change for the whole project: the tests
# of a parameterised suite are named by the suite's name generator alone.
# Otherwise gtest_discover_tests keeps the printed parameter (for a record,
# its bytes) in every discovered test's name. Found first through
# CMAKE_MODULE_PATH wherever a test folder includes GoogleTest.
include_guard(GLOBAL)
include(${CMAKE_ROOT}/Modules/GoogleTest.cmake)

# Builds under a sanitizer run every test several times slower: with
# FOTAVI_TEST_TIMEOUT_SCALE (scripts/test.sh --sanitize=... sets it) each
# discovered test's time limit, and the discovery's, grows by that factor.
# What the tests judge stays as it is.
function(_fotavi_scale_timeouts out)
  set(args ${ARGN})
  if(FOTAVI_TEST_TIMEOUT_SCALE GREATER 1)
    list(LENGTH args count)
    set(i 0)
    while(i LESS count)
      list(GET args ${i} word)
      math(EXPR next "${i} + 1")
      if((word STREQUAL "TIMEOUT" OR word STREQUAL "DISCOVERY_TIMEOUT") AND next LESS count)
        list(GET args ${next} value)
        if(value MATCHES "^[0-9]+$")
          math(EXPR value "${value} * ${FOTAVI_TEST_TIMEOUT_SCALE}")
          list(REMOVE_AT args ${next})
          list(INSERT args ${next} ${value})
        endif()
      endif()
      set(i ${next})
    endwhile()
  endif()
  set(${out} "${args}" PARENT_SCOPE)
endfunction()

function(gtest_discover_tests)
  _fotavi_scale_timeouts(args ${ARGV})
  _gtest_discover_tests(${args} NO_PRETTY_VALUES)
endfunction()
