# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads variant, whose
# libstdc++ has std::thread and std::mutex), running what was built under Wine.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(REELFIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${REELFIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${REELFIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${REELFIX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${REELFIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and gtest_discover_tests) run through Wine. Debian's wine package puts `wine`
# on the PATH; wine64 alone leaves its loader in /usr/lib/wine.
find_program(REELFIX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(REELFIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${REELFIX_WINE})
endif()
