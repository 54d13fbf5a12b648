# Every test of a build is part of one test run that must leave nothing
# behind. The run has a temporary folder of its own, <build>/test-tmp: the
# tests get it as TMPDIR, so every temporary folder they make lands in it,
# and as NUVEL_TEST_RUN, a marker in the environment that every process they
# start inherits (an X server, the game, a death test's child). In the fuzz
# build the folder is in memory, /dev/shm/nuvel-run-<hash of the build
# folder>, where /dev/shm exists: the fuzz targets write every input to a
# file and save settings with fsync, and on a disk the settings targets get
# through under a fifth of their 2000 runs in the 5 s (fuzz.sh on its own
# uses /dev/shm too). The test
# run.begin makes the folder afresh before the first test; run.leftovers runs
# after the last one, also after failures and timeouts, and fails on any
# process still alive with the marker and on anything left in the folder,
# which it then ends and removes (tests/tools/test_run.py). `ctest -R NAME`
# brings both along.
#
# Included by tests/ and tests/fuzz/; the two tests are added once per build.
# In the including directory: NUVEL_TEST_RUN_ENV, the environment entries,
# NUVEL_TEST_RUN_FIXTURE, the fixture's name, and nuvel_tests_join_run(),
# which puts every test added so far in that directory into the run, and
# nuvel_gtest_join_run(), the same for the tests a test program reports.
if(NUVEL_FUZZ AND IS_DIRECTORY /dev/shm)
  string(SHA1 nuvel_build_hash ${CMAKE_BINARY_DIR})
  string(SUBSTRING ${nuvel_build_hash} 0 12 nuvel_build_hash)
  set(NUVEL_TEST_RUN_DIR /dev/shm/nuvel-run-${nuvel_build_hash})
else()
  set(NUVEL_TEST_RUN_DIR ${CMAKE_BINARY_DIR}/test-tmp)
endif()
set(NUVEL_TEST_RUN_ENV "TMPDIR=${NUVEL_TEST_RUN_DIR}" "NUVEL_TEST_RUN=${NUVEL_TEST_RUN_DIR}")
set(NUVEL_TEST_RUN_FIXTURE nuvel.run)

get_property(nuvel_test_run_added GLOBAL PROPERTY NUVEL_TEST_RUN_ADDED)
if(NOT nuvel_test_run_added)
  set_property(GLOBAL PROPERTY NUVEL_TEST_RUN_ADDED TRUE)
  find_program(NUVEL_PYTHON3 python3 REQUIRED)
  add_test(NAME run.begin COMMAND ${NUVEL_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/tools/test_run.py begin ${NUVEL_TEST_RUN_DIR})
  add_test(NAME run.leftovers
    COMMAND ${NUVEL_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/tools/test_run.py end ${NUVEL_TEST_RUN_DIR})
  set_tests_properties(run.begin PROPERTIES FIXTURES_SETUP ${NUVEL_TEST_RUN_FIXTURE} TIMEOUT 60)
  set_tests_properties(run.leftovers PROPERTIES FIXTURES_CLEANUP ${NUVEL_TEST_RUN_FIXTURE} TIMEOUT 60)
endif()

# The same for the tests that gtest_discover_tests finds in target when CTest
# runs (they get the environment entries given here besides the run's own).
# Its PROPERTIES cannot carry a list such as ENVIRONMENT through to the tests
# in this CMake, so a script of our own sets them, after the discovered tests
# are known, from the list of their names that the module leaves to CTest.
function(nuvel_gtest_join_run target)
  set(env ${ARGN} ${NUVEL_TEST_RUN_ENV})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_test_run.cmake)
  file(WRITE ${script}
    "foreach(test IN LISTS ${target}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES ENVIRONMENT \"${env}\"\n"
    "                       FIXTURES_REQUIRED ${NUVEL_TEST_RUN_FIXTURE})\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

function(nuvel_tests_join_run)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests run.begin run.leftovers)
  foreach(test IN LISTS tests)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT ${NUVEL_TEST_RUN_ENV})
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED ${NUVEL_TEST_RUN_FIXTURE})
  endforeach()
endfunction()
