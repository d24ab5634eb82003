# Checks what the build needs and names the Debian package that provides what is missing.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(WARNING "VeskMath is developed with g++ (Debian package: g++) and clang (package: clang).")
endif()

if(VESKMATH_TESTS)
  find_package(GTest QUIET)
  if(GTest_FOUND)
    include(GoogleTest)
  else()
    # The library and the programs build without it; only the test suites need it.
    message(WARNING "GoogleTest was not found: the test suites are not built. "
                    "Install it with: apt-get install libgtest-dev libgmock-dev")
    set(VESKMATH_TESTS OFF)
  endif()
endif()
