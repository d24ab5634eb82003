# Line editing for the interactive programs (qelcalc, vesk): when a line-editing library is
# found, the target vm_lineedit carries VESKMATH_HAVE_READLINE and the names under which
# LineInput loads the library at run time (only when a person types at a terminal, so the
# start of a program in a script does not pay for loading it); without one the programs
# read plain lines.
#   Debian: apt-get install libreadline-dev   (or libedit-dev, found when readline is not)
option(VESKMATH_LINE_EDITING "Line editing and history on a terminal, when a library is found" ON)

add_library(vm_lineedit INTERFACE)
if(NOT VESKMATH_LINE_EDITING)
  message(STATUS "Line editing: off (VESKMATH_LINE_EDITING=OFF)")
  return()
endif()

find_path(VESKMATH_READLINE_INCLUDE_DIR readline/readline.h)
find_library(VESKMATH_READLINE_LIBRARY readline)
if(VESKMATH_READLINE_INCLUDE_DIR AND VESKMATH_READLINE_LIBRARY)
  target_compile_definitions(vm_lineedit INTERFACE VESKMATH_HAVE_READLINE
    [[VESKMATH_READLINE_SONAMES="libreadline.so.8", "libreadline.so"]])
  target_link_libraries(vm_lineedit INTERFACE ${CMAKE_DL_LIBS})
  message(STATUS "Line editing: readline (${VESKMATH_READLINE_LIBRARY})")
  return()
endif()

# libedit offers the same calls under editline/readline.h.
find_path(VESKMATH_EDITLINE_INCLUDE_DIR editline/readline.h)
find_library(VESKMATH_EDITLINE_LIBRARY edit)
if(VESKMATH_EDITLINE_INCLUDE_DIR AND VESKMATH_EDITLINE_LIBRARY)
  target_compile_definitions(vm_lineedit INTERFACE VESKMATH_HAVE_READLINE
    [[VESKMATH_READLINE_SONAMES="libedit.so.2", "libedit.so"]])
  target_link_libraries(vm_lineedit INTERFACE ${CMAKE_DL_LIBS})
  message(STATUS "Line editing: libedit (${VESKMATH_EDITLINE_LIBRARY})")
  return()
endif()

message(STATUS "Line editing: no library found (apt-get install libreadline-dev): plain input")
