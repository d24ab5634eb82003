# The library's folders depend downward only: a folder's sources include headers of its own
# folder and of the folders below it, never of one above (which would hide a cycle behind
# one shared include root). Run at configure time and as the test "layering":
#   cmake -DSOURCE_DIR=<tree> -P cmake/CheckLayers.cmake
# Each entry: folder=the folders it may include from.
set(_layers
  "platform/base=platform/base"
  "platform/rtl=platform/rtl|platform/base"
  "math=math|platform/base"
  "parser=parser|math|platform/rtl|platform/base"
  "vocabulary=vocabulary|parser|math|platform/rtl|platform/base"
  "platform/win=platform/win|platform/rtl|platform/base"
  "contract=contract|platform/win|platform/rtl|platform/base"
  "server=server|contract|vocabulary|parser|math|platform/win|platform/rtl|platform/base"
  # Hosts build on the class's contract, never on the engine.
  "host=host|contract|platform/win|platform/rtl|platform/base"
  # The input-method hosts' shared logic, and the hosts themselves.
  "hostui=hostui|host|contract|platform/win|platform/rtl|platform/base"
  "tools/fcitx5=tools/fcitx5|hostui|host|contract|platform/win|platform/rtl|platform/base"
  "tools/ibus=tools/ibus|hostui|host|contract|platform/win|platform/rtl|platform/base"
  # Line input for the interactive programs stands on its own.
  "lineinput=lineinput"
  "tools/vesk=tools/vesk|lineinput|host|contract|platform/win|platform/rtl|platform/base"
  "tools/qelcalc=tools/qelcalc|lineinput|vocabulary|parser|math|platform/win|platform/rtl|platform/base"
  "tools/veskmath=tools/veskmath|server|contract|vocabulary|parser|math|platform/win|platform/rtl|platform/base"
  "tools/vreg=tools/vreg|platform/win|platform/rtl|platform/base")
set(_known "lineinput|platform/base|platform/rtl|platform/win|contract|math|parser|vocabulary|server|hostui|host|tools|bench|fuzz|tests")
set(_faults)
foreach(layer IN LISTS _layers)
  string(REPLACE "=" ";" parts "${layer}")
  list(GET parts 0 folder)
  list(GET parts 1 allowed)
  file(GLOB sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${_known})/")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "\"(${_known})/" target "${line}")
      string(REGEX REPLACE "^\"|/$" "" target "${target}")
      if(NOT target MATCHES "^(${allowed})$")
        file(RELATIVE_PATH where "${SOURCE_DIR}" "${source}")
        list(APPEND _faults "${where} (${folder}) includes from ${target}/, a folder above it")
      endif()
    endforeach()
  endforeach()
endforeach()
if(_faults)
  list(JOIN _faults "\n  " text)
  message(FATAL_ERROR "Dependencies must flow downward:\n  ${text}")
endif()
