# reelprep, the FFmpeg front end, is built when its libraries are there: FFmpeg's libavformat,
# libavcodec, libavfilter, libswresample and libavutil, and CLI11, all found with pkg-config.
# REELFIX_BUILD_PREP=AUTO builds it when pkg-config finds them all, ON requires them, OFF leaves
# it out. A cross build never takes them: pkg-config would report the build machine's libraries.
set(REELFIX_PREP_BUILT OFF)
string(TOUPPER "${REELFIX_BUILD_PREP}" reelfix_prep_mode)
if(reelfix_prep_mode STREQUAL "AUTO")
  set(reelfix_prep_required OFF)
elseif(REELFIX_BUILD_PREP)
  set(reelfix_prep_required ON)
else()
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  if(reelfix_prep_required)
    message(FATAL_ERROR "REELFIX_BUILD_PREP is ON, but reelprep is not built in a cross build")
  endif()
  message(STATUS "reelprep is not built in a cross build")
  return()
endif()

set(reelfix_prep_missing "")
find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  set(reelfix_prep_missing "pkg-config")
else()
  pkg_check_modules(REELFIX_FFMPEG QUIET IMPORTED_TARGET
    libavformat>=59 libavcodec>=59 libavfilter>=8 libswresample>=4 libavutil>=57)
  pkg_check_modules(REELFIX_CLI11 QUIET IMPORTED_TARGET CLI11>=2)
  if(NOT REELFIX_FFMPEG_FOUND)
    list(APPEND reelfix_prep_missing "FFmpeg's libraries (5.1 or newer)")
  endif()
  if(NOT REELFIX_CLI11_FOUND)
    list(APPEND reelfix_prep_missing "CLI11")
  endif()
endif()

if(reelfix_prep_missing)
  list(JOIN reelfix_prep_missing " and " reelfix_prep_missing)
  set(reelfix_prep_hint "on Debian or Ubuntu: apt-get install pkg-config libavformat-dev \
libavcodec-dev libavfilter-dev libswresample-dev libavutil-dev libcli11-dev")
  if(reelfix_prep_required)
    message(FATAL_ERROR "REELFIX_BUILD_PREP is ON, but ${reelfix_prep_missing} not found (${reelfix_prep_hint})")
  endif()
  message(STATUS "reelprep is not built: ${reelfix_prep_missing} not found (${reelfix_prep_hint})")
  return()
endif()

message(STATUS "reelprep is built (FFmpeg libavformat ${REELFIX_FFMPEG_libavformat_VERSION})")
set(REELFIX_PREP_BUILT ON)
add_subdirectory(prep)
