# Checks what the build needs and names the Debian package that provides what is missing.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(WARNING "VeskMath is developed with g++ (Debian package: g++) and clang (package: clang).")
endif()

if(VESKMATH_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    message(FATAL_ERROR "GoogleTest was not found. Install it with: apt-get install libgtest-dev libgmock-dev")
  endif()
  include(GoogleTest)
endif()
