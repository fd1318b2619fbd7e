# Install rules and CPack packages: a .deb and a .tar.gz on Linux, a .zip for Windows.
# Included at the end of the top-level CMakeLists.txt, once every program is defined; the
# directories come from cmake/install_dirs.cmake.
#
#   cmake --install build --prefix ~/.local
#   cd build && cpack

# The programs and their manual pages (reelprep joins when it is built).
foreach(program reelfix reelprep)
  if(NOT TARGET ${program})
    continue()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(page_source ${PROJECT_SOURCE_DIR}/man/${program}.1.in)
  if(NOT WIN32 AND EXISTS ${page_source})
    configure_file(${page_source} ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(WIN32)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.txt)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME reelfix)
set(CPACK_PACKAGE_VENDOR "The reelfix developers")
set(REELFIX_PACKAGE_CONTACT "The reelfix developers <reelfix@example.org>" CACHE STRING
    "Maintainer of the packages, as \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${REELFIX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert AVI movies for a digital still camera's playback")
# Debian shows the lines as they are: keep them within 79 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "reelfix converts an AVI movie with MJPEG video and 8-bit mono PCM audio
into the one AVI layout that a digital still camera plays back: a 2048-byte
header area with the camera's timing and codec values, one second of movie
as one audio chunk and fifteen JPEG frames that carry the standard Huffman
tables, at most 180 seconds, and a rebuilt index. The destination is written
under a temporary name and put in place only when it is complete.")
if(TARGET reelprep)
  string(APPEND CPACK_PACKAGE_DESCRIPTION "
.
reelprep, built on FFmpeg's libraries, makes such movies in one step from any
video that FFmpeg reads: a phone clip, a download, camcorder footage.")
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()

# Debian: the package's own name and version in the file name, dependencies from the
# libraries the programs link (dpkg-shlibdeps), and what Debian's policy asks of /usr/share/doc
# and the manual pages (cmake/debian_layout.cmake, run on the staged files).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian_layout.cmake)
set(CPACK_REELFIX_DOCDIR ${CMAKE_INSTALL_DOCDIR})
set(CPACK_REELFIX_MANDIR ${CMAKE_INSTALL_MANDIR})

include(CPack)
