# Delay-loaded imports: the UI libraries are loaded at the first call into
# them, never when the process starts, so the service modes (which make no
# such call) never load them from the program folder.
#
# tarnwick_delay_import(<name> DLL <file.dll> DEF <names.def> [BUILT_BY <target>])
# An INTERFACE target <name> to link against instead of the library itself.
# mingw: an import library that dlltool makes with delay-load stubs from the
# .def of the names the product uses (the CRT's __delayLoadHelper2 loads the
# library on the first call). MSVC: the library's own import library with
# /DELAYLOAD and the linker's delay-load helper. BUILT_BY names the target
# that builds the library, so it is in the app folder before anything runs.
if(MINGW)
  if(CMAKE_DLLTOOL)
    set(TARNWICK_DLLTOOL ${CMAKE_DLLTOOL} CACHE FILEPATH "dlltool of the mingw toolchain")
  else()
    find_program(TARNWICK_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool x86_64-w64-mingw32-dlltool
                 REQUIRED)
  endif()
endif()

function(tarnwick_delay_import name)
  cmake_parse_arguments(D "" "DLL;DEF;BUILT_BY" "" ${ARGN})
  if(NOT D_DLL OR NOT D_DEF)
    message(FATAL_ERROR "tarnwick_delay_import(${name}): DLL and DEF are required")
  endif()
  add_library(${name} INTERFACE)
  if(MINGW)
    set(library ${CMAKE_BINARY_DIR}/lib/lib${name}.a)
    add_custom_command(OUTPUT ${library}
      COMMAND ${TARNWICK_DLLTOOL} --input-def ${D_DEF} --dllname ${D_DLL}
              --output-delaylib ${library}
      DEPENDS ${D_DEF}
      COMMENT "Delay-load import library for ${D_DLL}"
      VERBATIM)
    add_custom_target(${name}_library DEPENDS ${library})
    target_link_libraries(${name} INTERFACE ${library})
    add_dependencies(${name} ${name}_library)
  elseif(MSVC)
    target_link_libraries(${name} INTERFACE delayimp)
    target_link_options(${name} INTERFACE /DELAYLOAD:${D_DLL})
    if(D_BUILT_BY)
      target_link_libraries(${name} INTERFACE ${D_BUILT_BY})
    endif()
  endif()
  if(D_BUILT_BY)
    add_dependencies(${name} ${D_BUILT_BY})
  endif()
endfunction()
