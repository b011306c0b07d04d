# Cross-compile for Windows x64 with clang, against the same mingw-w64
# headers, CRT and posix-threads libstdc++ as the g++ build, and run the
# results under Wine. A second compiler over the same code finds what the
# first one happens to hide.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(TARNWICK_CLANG_TARGET x86_64-w64-windows-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${TARNWICK_CLANG_TARGET})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${TARNWICK_CLANG_TARGET})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
# binutils' dlltool: llvm-dlltool, which CMake would pick beside clang, makes
# no delay-load import libraries.
find_program(CMAKE_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})

# clang does not find Debian's gcc-mingw library folder by itself (its
# version folder is named "12-posix"), so the C++ headers and the runtime
# libraries are named here. -stdlib++-isystem replaces the C++ library's
# headers only, and is silently ignored on link lines.
set(TARNWICK_MINGW_GCC_DIR /usr/lib/gcc/${TOOLCHAIN_PREFIX}/12-posix
    CACHE PATH "The posix-threads gcc-mingw folder: libstdc++ headers, libgcc, libssp")
set(_tarnwick_cxx_headers "")
foreach(dir include/c++ include/c++/${TOOLCHAIN_PREFIX} include/c++/backward)
  string(APPEND _tarnwick_cxx_headers " -stdlib++-isystem ${TARNWICK_MINGW_GCC_DIR}/${dir}")
endforeach()
# g++ for mingw keeps thread-locals in emulated TLS, and libstdc++'s own
# (std::call_once's callable, among others) are reached from inline code
# compiled here: both sides must use the same kind, or std::call_once does
# not even link.
set(CMAKE_C_FLAGS_INIT "-pthread -femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-pthread -femulated-tls${_tarnwick_cxx_headers}")
# The GNU linker of binutils-mingw-w64, as in the g++ build: lld puts the
# import tables into read-only data, where the delay-load helper cannot
# write the address it resolves (a page fault at the first call into a
# delay-loaded library). It warns "duplicate section ... has different
# size" for type names that both clang's objects and libstdc++ carry (g++
# pads them to 16 bytes); the text is the same, and one copy is kept.
find_program(TARNWICK_MINGW_LD NAMES ${TOOLCHAIN_PREFIX}-ld REQUIRED)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "--ld-path=${TARNWICK_MINGW_LD} -L${TARNWICK_MINGW_GCC_DIR}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
find_program(WINE_PROGRAM NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
