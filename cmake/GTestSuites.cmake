# vm_gtest_suites(TARGET [ENVIRONMENT VAR=VALUE...]): registers the test program's test suites
# with CTest, one CTest test per suite ("Qelcalc.*", "Table/Qelcalc.*"), run as
# `program --gtest_filter=Suite.*`. One process per suite rather than per test: starting a
# test program (under the sanitizers above all) cost more than most of its tests, and
# `ctest -R Suite` still picks what it did. The suites are listed when ctest runs, after
# the program was built (as gtest_discover_tests' PRE_TEST mode does).
set(_VM_GTEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/GTestSuitesAdd.cmake)

function(vm_gtest_suites target)
  cmake_parse_arguments(ARG "" "" "ENVIRONMENT" ${ARGN})
  set(base "${CMAKE_CURRENT_BINARY_DIR}/${target}")
  string(CONCAT content
    "set(VM_EXE [==[$<TARGET_FILE:${target}>]==])\n"
    "set(VM_TARGET [==[${target}]==])\n"
    "set(VM_WORKDIR [==[${CMAKE_CURRENT_BINARY_DIR}]==])\n"
    "set(VM_ENVIRONMENT [==[${ARG_ENVIRONMENT}]==])\n"
    "set(VM_SUITES_FILE [==[${base}_suites.cmake]==])\n"
    "include([==[${_VM_GTEST_SUITES_SCRIPT}]==])\n")
  file(GENERATE OUTPUT "${base}_include.cmake" CONTENT "${content}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${base}_include.cmake")
endfunction()
