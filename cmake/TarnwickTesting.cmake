# GoogleTest for every build. On Windows itself the package search finds it
# (vcpkg installs it from vcpkg.json at the root); the host uses Debian's
# package through find_package when it can; mingw and a missing package
# build the sources in /usr/src/googletest with the build's own compiler.
include(GoogleTest)

if(NOT TARGET GTest::gtest_main)
  if(WIN32 AND NOT CMAKE_CROSSCOMPILING)
    find_package(GTest REQUIRED)
  elseif(NOT WIN32)
    find_package(GTest QUIET)
  endif()
  if(NOT TARGET GTest::gtest_main)
    set(TARNWICK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)  # static runtime, as the product
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    if(MINGW)
      set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    endif()
    add_subdirectory(${TARNWICK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
      add_library(GTest::gmock ALIAS gmock)
    endif()
  endif()
endif()

# tarnwick_add_test(<name> SOURCES ... [LIBS ...] [SERIAL] [LABELS ...]
#                   [WINE_CASES <Suite.Case> ...])
# One test executable; every test case becomes its own ctest entry. Under
# mingw the cases run through Wine in the build's private prefix, with the
# app folder on the library path so the stand-in DLLs resolve; a native
# Windows build copies the DLLs beside the test instead. SERIAL cases
# share the prefix's service manager and never run side by side.
# WINE_CASES need Wine itself (its Unix side, its Z: drive, a shell that
# never prompts): they are registered, labelled wine, only in a build that
# runs under Wine.
function(tarnwick_add_test name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS;LABELS;WINE_CASES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listing the cases runs the program too, before any test property
    # applies; carrying the Wine settings in the emulator command gives the
    # listing and the runs the same prefix and library path. wine-run.sh
    # keeps processes Wine starts on the side off ctest's output pipe.
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
      "env;WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEPATH=${CMAKE_BINARY_DIR}/app;WINEDLLOVERRIDES=mscoree,mshtml=;${PROJECT_SOURCE_DIR}/scripts/wine-run.sh")
  elseif(WIN32)
    # Nothing puts the app folder on a native test's library path: the DLLs
    # it imports or delay-loads go beside it (none for most tests). The copy
    # depends on the DLL files themselves: a test that links an unchanged
    # import library is not relinked when its DLL is rebuilt, and a step of
    # the test's own link would leave the old copy beside it.
    set(dlls "$<TARGET_RUNTIME_DLLS:${name}>")
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}_dlls.stamp)
    add_custom_command(OUTPUT ${stamp}
      COMMAND "$<$<BOOL:${dlls}>:${CMAKE_COMMAND};-E;copy_if_different;${dlls};$<TARGET_FILE_DIR:${name}>>"
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${dlls}
      COMMAND_EXPAND_LISTS
      VERBATIM)
    add_custom_target(${name}_dlls ALL DEPENDS ${stamp})
    # After the test, whose build builds the libraries it links.
    add_dependencies(${name}_dlls ${name})
  endif()
  set(props TIMEOUT 120)
  if(T_SERIAL)
    list(APPEND props RESOURCE_LOCK wine_services)
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  set(filter "")
  if(T_WINE_CASES AND NOT CMAKE_CROSSCOMPILING)
    list(JOIN T_WINE_CASES ":" wine_cases)
    set(filter TEST_FILTER "-${wine_cases}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    DISCOVERY_EXTRA_ARGS ""
    ${filter}
    PROPERTIES ${props})
  if(T_WINE_CASES AND CMAKE_CROSSCOMPILING)
    # Labelled once discovery has registered them (its PROPERTIES take one
    # label only). A listed case the program does not have stops ctest, so
    # a renamed one cannot slip into the native runs.
    set(labels ${T_LABELS} wine)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_wine_cases.cmake)
    file(WRITE ${script}
      "set_tests_properties(${T_WINE_CASES} PROPERTIES LABELS [==[${labels}]==])\n"
      "foreach(case ${T_WINE_CASES})\n"
      "  list(FIND ${name}_TESTS \${case} found)\n"
      "  if(DEFINED ${name}_TESTS AND found EQUAL -1)\n"
      "    message(FATAL_ERROR \"${name} has no case \${case}\")\n"
      "  endif()\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()
