# GoogleTest for every build. The host uses Debian's packaged sources through
# find_package when it can; mingw and a missing package build the sources in
# /usr/src/googletest with the build's own compiler.
include(GoogleTest)

if(NOT TARGET GTest::gtest_main)
  if(NOT WIN32)
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

# tarnwick_add_test(<name> SOURCES ... [LIBS ...] [SERIAL] [LABELS ...])
# One test executable; every test case becomes its own ctest entry. Under
# mingw the cases run through Wine in the build's private prefix, with the
# app folder on the library path so the stand-in DLLs resolve. SERIAL cases
# share the prefix's service manager and never run side by side.
function(tarnwick_add_test name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS;LABELS" ${ARGN})
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
  endif()
  set(props TIMEOUT 120)
  if(T_SERIAL)
    list(APPEND props RESOURCE_LOCK wine_services)
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    DISCOVERY_EXTRA_ARGS ""
    PROPERTIES ${props})
endfunction()
