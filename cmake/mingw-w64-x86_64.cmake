# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix), used by
# scripts/windows.sh:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix thread model gives std::thread; everything (libstdc++, libgcc, winpthreads) is
# linked statically, so vekmrkenc.exe and vekmrkdec.exe run on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEKMRK_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEKMRK_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEKMRK_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VEKMRK_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEKMRK_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 64-bit Windows keeps the stack aligned to 16 bytes only, and GCC cannot align it further for
# the 32- and 64-byte vectors of the AVX2 and AVX-512 kernels: a spilled vector written with
# an aligned move would fault. The assembler writes every such move as an unaligned one.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
