# Run by ctest (see GTestSuites.cmake): lists the suites of VM_EXE, once per build of it, and
# adds one test per suite. A suite runs all its tests in one process, so it gets a longer time
# limit than the presets' 300 s for one test (ReliabilityProcess takes 200 s under the
# sanitizers on a busy machine).
if(NOT EXISTS "${VM_EXE}")
  add_test(${VM_TARGET}_NOT_BUILT ${VM_TARGET}_NOT_BUILT)
  return()
endif()
if(NOT EXISTS "${VM_SUITES_FILE}" OR NOT "${VM_SUITES_FILE}" IS_NEWER_THAN "${VM_EXE}" OR
   NOT "${VM_SUITES_FILE}" IS_NEWER_THAN "${CMAKE_CURRENT_LIST_FILE}")
  execute_process(COMMAND "${VM_EXE}" --gtest_list_tests WORKING_DIRECTORY "${VM_WORKDIR}"
                  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status
                  TIMEOUT 60)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${VM_EXE} --gtest_list_tests failed (${status}):\n${listing}${errors}")
  endif()
  set(script "")
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    # "Suite." or "Prefix/Suite.  # TypeParam = ...": a suite; "  Test" lines belong to it.
    if(line MATCHES "^([^ #]+)\\.( |$)")
      set(suite "${CMAKE_MATCH_1}")
      string(APPEND script
        "add_test([==[${suite}.*]==] [==[${VM_EXE}]==] [==[--gtest_filter=${suite}.*]==])\n"
        "set_tests_properties([==[${suite}.*]==] PROPERTIES WORKING_DIRECTORY [==[${VM_WORKDIR}]==]"
        " ENVIRONMENT [==[${VM_ENVIRONMENT}]==] TIMEOUT 900)\n")
    endif()
  endforeach()
  file(WRITE "${VM_SUITES_FILE}" "${script}")
endif()
include("${VM_SUITES_FILE}")
