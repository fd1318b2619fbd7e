# Run by CPack on the staged files of every package before it is made; changes only the .deb:
# Debian's policy wants the manual pages compressed with `gzip -9n`, the licence in
# /usr/share/doc/<package>/copyright and a changelog beside it.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/${CPACK_REELFIX_DOCDIR}")

function(compress file)
  # -n: no name or time stamp in the gzip header, so that the package is reproducible.
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed: ${status}")
  endif()
endfunction()

file(GLOB pages "${root}/${CPACK_REELFIX_MANDIR}/man1/*.1")
foreach(page IN LISTS pages)
  compress("${page}")
endforeach()

file(RENAME "${doc}/LICENSE" "${doc}/copyright")

# The date honours SOURCE_DATE_EPOCH.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${doc}/changelog"
  "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * Version ${CPACK_PACKAGE_VERSION}, packaged from the sources with CPack.\n"
  "\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
compress("${doc}/changelog")
