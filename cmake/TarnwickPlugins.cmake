# The UI's plug-ins, read once from src/windows/plugins.list. Sets
# TARNWICK_PLUGINS, one "registrar|export|library" row per plug-in in
# registration order, and makes the registration table the product
# compiles:
#   ${TARNWICK_GENERATED_PLUGINS}/plugin_table.inc
# one TARNWICK_PLUGIN(registrar name, export, L"library.dll") line a plug-in.
set(TARNWICK_PLUGIN_LIST ${PROJECT_SOURCE_DIR}/src/windows/plugins.list)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${TARNWICK_PLUGIN_LIST})
set(TARNWICK_GENERATED_PLUGINS ${CMAKE_BINARY_DIR}/generated/plugins)

file(STRINGS ${TARNWICK_PLUGIN_LIST} _tarnwick_plugin_lines REGEX "^[^#]")
set(TARNWICK_PLUGINS "")
set(_tarnwick_plugin_table "")
foreach(line IN LISTS _tarnwick_plugin_lines)
  string(STRIP "${line}" line)
  if(NOT line MATCHES "^([A-Za-z0-9_]+)\\|([A-Za-z_][A-Za-z0-9_]*)\\|([a-z0-9_]+)$")
    message(FATAL_ERROR "plugins.list: not \"registrar|export|library\": '${line}'")
  endif()
  list(APPEND TARNWICK_PLUGINS "${line}")
  string(APPEND _tarnwick_plugin_table
    "TARNWICK_PLUGIN(\"${CMAKE_MATCH_1}\", ${CMAKE_MATCH_2}, L\"${CMAKE_MATCH_3}.dll\")\n")
endforeach()
list(LENGTH TARNWICK_PLUGINS _tarnwick_plugin_count)
if(_tarnwick_plugin_count EQUAL 0)
  message(FATAL_ERROR "plugins.list names no plug-in")
endif()
file(CONFIGURE OUTPUT ${TARNWICK_GENERATED_PLUGINS}/plugin_table.inc
  CONTENT "// Made by cmake/TarnwickPlugins.cmake from src/windows/plugins.list.\n${_tarnwick_plugin_table}")

# tarnwick_plugin_fields(<row> <registrar var> <export var> <library var>)
function(tarnwick_plugin_fields row registrar export library)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 value)
  set(${registrar} ${value} PARENT_SCOPE)
  list(GET fields 1 value)
  set(${export} ${value} PARENT_SCOPE)
  list(GET fields 2 value)
  set(${library} ${value} PARENT_SCOPE)
endfunction()
