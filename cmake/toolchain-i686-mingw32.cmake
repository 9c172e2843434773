# Cross build for 32-bit Windows with the mingw-w64 i686 compilers of the posix thread model
# (std::thread and std::mutex need it). Executables run under wine through wine-run.sh, so ctest
# runs the cross-built test suites on the build machine:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORV_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${ORV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORV_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables (and test discovery) run under wine, in the build folder's own prefix unless
# WINEPREFIX is set.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh --prefix ${CMAKE_BINARY_DIR}/wineprefix)
