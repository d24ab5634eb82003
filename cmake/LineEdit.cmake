# Line editing for the interactive programs (qelcalc, vesk): the target vm_lineedit carries
# the line-editing library and the definition VESKMATH_HAVE_READLINE when the library is
# found; without it the target is empty and the programs read plain lines.
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
  target_include_directories(vm_lineedit SYSTEM INTERFACE ${VESKMATH_READLINE_INCLUDE_DIR})
  target_link_libraries(vm_lineedit INTERFACE ${VESKMATH_READLINE_LIBRARY})
  target_compile_definitions(vm_lineedit INTERFACE VESKMATH_HAVE_READLINE)
  message(STATUS "Line editing: readline (${VESKMATH_READLINE_LIBRARY})")
  return()
endif()

# libedit offers the same calls under editline/readline.h.
find_path(VESKMATH_EDITLINE_INCLUDE_DIR editline/readline.h)
find_library(VESKMATH_EDITLINE_LIBRARY edit)
if(VESKMATH_EDITLINE_INCLUDE_DIR AND VESKMATH_EDITLINE_LIBRARY)
  target_include_directories(vm_lineedit SYSTEM INTERFACE ${VESKMATH_EDITLINE_INCLUDE_DIR})
  target_link_libraries(vm_lineedit INTERFACE ${VESKMATH_EDITLINE_LIBRARY})
  target_compile_definitions(vm_lineedit INTERFACE VESKMATH_HAVE_READLINE VESKMATH_READLINE_IS_EDITLINE)
  message(STATUS "Line editing: libedit (${VESKMATH_EDITLINE_LIBRARY})")
  return()
endif()

message(STATUS "Line editing: no library found (apt-get install libreadline-dev): plain input")
