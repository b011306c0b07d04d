# Delay-loaded imports: the UI libraries are loaded at the first call into
# them, never when the process starts, so the service modes (which make no
# such call) never load them from the program folder.
#
# tarnwick_delay_import(<name> DLL <file.dll> DEF <names.def> [BUILT_BY <target>])
# An INTERFACE target <name> to link against instead of the library itself.
# Either way the import library is made from the .def of the names the
# product uses, so a real library needs only its DLL in the app folder.
# mingw: dlltool makes it with delay-load stubs (the CRT's
# __delayLoadHelper2 loads the library on the first call). MSVC: lib /def:
# makes a plain one, linked with /DELAYLOAD and the linker's delay-load
# helper; the DLL is an imported library of the app folder, so a native
# test's $<TARGET_RUNTIME_DLLS> names it. BUILT_BY names the target that
# builds the library, so it is in the app folder before anything runs.
if(MINGW)
  if(CMAKE_DLLTOOL)
    set(TARNWICK_DLLTOOL ${CMAKE_DLLTOOL} CACHE FILEPATH "dlltool of the mingw toolchain")
  else()
    find_program(TARNWICK_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool x86_64-w64-mingw32-dlltool
                 REQUIRED)
  endif()
elseif(MSVC)
  get_filename_component(_tarnwick_linker_dir "${CMAKE_LINKER}" DIRECTORY)
  find_program(TARNWICK_LIB_TOOL NAMES lib HINTS "${_tarnwick_linker_dir}" REQUIRED
               DOC "lib, the import library tool beside the MSVC linker")
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
    set(library ${CMAKE_BINARY_DIR}/lib/${name}.lib)
    add_custom_command(OUTPUT ${library}
      COMMAND ${TARNWICK_LIB_TOOL} /nologo /machine:x64 /def:${D_DEF} /out:${library}
      DEPENDS ${D_DEF}
      COMMENT "Import library for ${D_DLL}"
      VERBATIM)
    add_custom_target(${name}_library DEPENDS ${library})
    add_library(${name}_dll SHARED IMPORTED GLOBAL)
    set_target_properties(${name}_dll PROPERTIES
      IMPORTED_IMPLIB ${library}
      IMPORTED_LOCATION ${TARNWICK_APP_DIR}/${D_DLL})
    target_link_libraries(${name} INTERFACE ${name}_dll delayimp)
    target_link_options(${name} INTERFACE /DELAYLOAD:${D_DLL})
    add_dependencies(${name} ${name}_library)
  endif()
  if(D_BUILT_BY)
    add_dependencies(${name} ${D_BUILT_BY})
  endif()
endfunction()
