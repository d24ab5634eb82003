# The public expression library and everything `cmake --install` and `cpack -G DEB` deliver:
#   lib/libveskmath.a, lib/libveskmath.so.<version> (SONAME libveskmath.so.<major>)
#   include/veskmath/{platform/base,platform/rtl,math,parser,vocabulary}/*.h
#   lib/cmake/VeskMath/ (find_package(VeskMath): VeskMath::veskmath, VeskMath::veskmath_static)
#   lib/pkgconfig/veskmath.pc
#   bin/ the programs that this tree builds, share/man/man1/ their manual pages
# Included at the end of the top-level CMakeLists.txt, when every folder's targets exist.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# --- The library: the objects of rtl, math and the expression engine, compiled once (they
# are position-independent everywhere) and linked both ways. The folder targets stay as
# they are for the programs and tests.
set(_vm_lib_parts vm_base vm_rtl vm_math vm_parser vm_vocabulary)
set(_vm_lib_objects)
foreach(part IN LISTS _vm_lib_parts)
  if(NOT TARGET ${part})
    message(STATUS "VeskMath library: ${part} is not built yet, no installable library")
    return()
  endif()
  list(APPEND _vm_lib_objects $<TARGET_OBJECTS:${part}>)
endforeach()

add_library(veskmath_shared SHARED ${_vm_lib_objects})
add_library(veskmath_static STATIC ${_vm_lib_objects})
set_target_properties(veskmath_shared PROPERTIES
  OUTPUT_NAME veskmath EXPORT_NAME veskmath
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(veskmath_static PROPERTIES OUTPUT_NAME veskmath EXPORT_NAME veskmath_static)
if(NOT VESKMATH_SANITIZE AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  # Every symbol the objects use must be in them or in the C++ runtime. (The sanitizer and
  # coverage runtimes come with the program, so such a build cannot check this.)
  target_link_options(veskmath_shared PRIVATE LINKER:--no-undefined)
endif()
foreach(lib veskmath_shared veskmath_static)
  target_include_directories(${lib} INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/veskmath>)
  target_compile_features(${lib} INTERFACE cxx_std_20)
endforeach()
add_library(VeskMath::veskmath ALIAS veskmath_shared)
add_library(VeskMath::veskmath_static ALIAS veskmath_static)

install(TARGETS veskmath_shared veskmath_static EXPORT VeskMathTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Headers keep their folders, so -I<prefix>/include/veskmath serves "math/Math387.h" as in
# the source tree. RealProgram.h is the
# engine's own (the expression object knows the real program only as an incomplete type).
foreach(dir platform/base platform/rtl math parser vocabulary)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veskmath/${dir}
    FILES_MATCHING PATTERN "*.h" PATTERN "RealProgram.h" EXCLUDE)
endforeach()

set(_vm_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/VeskMath)
install(EXPORT VeskMathTargets NAMESPACE VeskMath:: DESTINATION ${_vm_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VeskMathConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VeskMathConfig.cmake INSTALL_DESTINATION ${_vm_cmake_dir})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeskMathConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeskMathConfig.cmake
  ${PROJECT_BINARY_DIR}/VeskMathConfigVersion.cmake DESTINATION ${_vm_cmake_dir})

# pkg-config: relative to the .pc file, so one file serves every prefix and DESTDIR.
file(RELATIVE_PATH VESKMATH_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VESKMATH_PC_PREFIX_FROM_PCDIR "${VESKMATH_PC_PREFIX_FROM_PCDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/veskmath.pc.in ${PROJECT_BINARY_DIR}/veskmath.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veskmath.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# --- Programs and their manual pages: whichever of them this tree builds.
set(VESKMATH_INSTALLED_PROGRAMS)
foreach(program veskmath vesk qelcalc vreg)
  if(TARGET ${program})
    get_target_property(_vm_type ${program} TYPE)
    if(_vm_type STREQUAL "EXECUTABLE")
      install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
      list(APPEND VESKMATH_INSTALLED_PROGRAMS ${program})
      if(EXISTS ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
        install(FILES ${PROJECT_SOURCE_DIR}/docs/man/${program}.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
      else()
        message(WARNING "${program} has no manual page docs/man/${program}.1")
      endif()
    endif()
  endif()
endforeach()
message(STATUS "Installed programs: ${VESKMATH_INSTALLED_PROGRAMS}")
# Builds what the install rules need and nothing else (no tests, no benchmarks).
add_custom_target(vm_install_set DEPENDS veskmath_shared veskmath_static ${VESKMATH_INSTALLED_PROGRAMS})
if(TARGET vm_hostui_translations)
  add_dependencies(vm_install_set vm_hostui_translations)
endif()

# --- The D-Bus service file: the session bus starts the installed server on demand.
if(TARGET veskmath)
  install(CODE "
    set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/dbus-1/services\")
    file(MAKE_DIRECTORY \"\${_dir}\")
    file(WRITE \"\${_dir}/VeskMath.FuVeskMath.service\"
      \"[D-BUS Service]\\nName=VeskMath.FuVeskMath\\nExec=\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/veskmath /Automation\\n\")")
endif()

# --- Debian package: cpack -G DEB in the build directory puts the packages into packages/.
set(CPACK_PACKAGE_NAME veskmath)
set(CPACK_PACKAGE_VENDOR "VeskMath developers")
set(CPACK_PACKAGE_CONTACT "VeskMath developers <veskmath-dev@localhost>")
# The package version is the commit's (0.1.0+git<count>.g<hash>), worked out when cpack runs.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mathematical-expression converter and expression library")
set(CPACK_PACKAGE_DESCRIPTION
"VeskMath evaluates mathematical expressions over real and complex numbers:
operators, 121 built-in words (functions and constants), definitions that carry
over between expressions, and number text forms.
.
This package holds the expression library (shared and static, headers, CMake
package VeskMath, pkg-config file veskmath.pc) and the programs: qelcalc, the
command-line calculator; vesk, which drives the conversion object as an input
method's conversion framework does; vreg, which reads and changes the registry
file; and veskmath, the conversion server with its install dialog, where built.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The shared library's entry (shlibs) and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
find_program(VESKMATH_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VESKMATH_DPKG_SHLIBDEPS)
  # Dependencies read off the binaries (libc6, libstdc++6, libgcc-s1, libsystemd0), and the
  # session bus that carries the calls to the server.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "default-dbus-session-bus | dbus-session-bus")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), \
libsystemd0, default-dbus-session-bus | dbus-session-bus")
  message(STATUS "dpkg-shlibdeps not found (apt-get install dpkg-dev): "
                 "package dependencies set by hand")
endif()
# The line editor is loaded at run time when a person types at a terminal, so the binaries
# do not name it: recommended, not required, and only by the package of the programs.
set(_vm_recommends "")
if(VESKMATH_READLINE_LIBRARY)
  set(_vm_recommends "libreadline8")
elseif(VESKMATH_EDITLINE_LIBRARY)
  set(_vm_recommends "libedit2")
endif()
# The input-method hosts, where built, are packages of their own (fcitx5-veskmath,
# ibus-veskmath): each depends on veskmath, whose server does the converting and which
# carries the hosts' shared translations, and on the framework it was built against.
set(_vm_host_components)
if(TARGET fcitx5_veskmath)
  list(APPEND _vm_host_components fcitx5)
  add_dependencies(vm_install_set fcitx5_veskmath)
endif()
if(TARGET ibus_engine_veskmath)
  list(APPEND _vm_host_components ibus)
  add_dependencies(vm_install_set ibus_engine_veskmath)
endif()
if(_vm_host_components)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified ${_vm_host_components})
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME veskmath)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_RECOMMENDS "${_vm_recommends}")
  set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION
      "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
  # The hosts are programs and modules without a soname, which the generated shlibs file
  # would warn about: that file is written for the library alone (CPackProjectConfig.cmake).
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
  set(VESKMATH_SHLIBS_LINE "libveskmath ${PROJECT_VERSION_MAJOR} veskmath")
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "${_vm_recommends}")
endif()
if(TARGET fcitx5_veskmath)
  set(CPACK_DEBIAN_FCITX5_PACKAGE_NAME fcitx5-veskmath)
  set(CPACK_DEBIAN_FCITX5_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_FCITX5_PACKAGE_DEPENDS
    "veskmath (= ${PROJECT_VERSION}), fcitx5 (>= ${VESKMATH_FCITX5_VERSION})")
  # (A component's description replaces the package's, summary line included.)
  set(CPACK_DEBIAN_FCITX5_DESCRIPTION
"VeskMath conversion plug-in for the Fcitx5 input method framework
This package is the add-on of the Fcitx5 input method framework that hosts
the VeskMath conversion plug-in on top of whichever input method is active:
the trigger key (Control+Alt+M by default) enters math mode, the typed
expression shows its result as a candidate (1+2= shows 1+2= 3), and Enter
commits it. The plug-in's server (package veskmath) does the converting, in a
process of its own.")
endif()
if(TARGET ibus_engine_veskmath)
  set(CPACK_DEBIAN_IBUS_PACKAGE_NAME ibus-veskmath)
  set(CPACK_DEBIAN_IBUS_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_IBUS_PACKAGE_DEPENDS
    "veskmath (= ${PROJECT_VERSION}), ibus (>= ${VESKMATH_IBUS_VERSION})")
  set(CPACK_DEBIAN_IBUS_DESCRIPTION
"VeskMath conversion plug-in as an engine of the IBus input method framework
This package is the IBus engine veskmath that hosts the VeskMath conversion
plug-in: switched to (from the desktop's input sources, or with a shortcut that
runs 'ibus engine veskmath'), it shows the typed expression's result as a
candidate (1+2= shows 1+2= 3); Enter commits it and switches back to the
engine that was active before. The plug-in's server (package veskmath) does
the converting, in a process of its own.")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake.in
  ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)
set(CPACK_GENERATOR DEB)
include(CPack)
