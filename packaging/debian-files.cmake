# Run by CPack on the staged files before it builds a package. A Debian
# package carries its licence as doc/<package>/copyright and a compressed
# changelog beside it; the other packages keep LICENSE as installed.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
set(docs "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_DMXKIT_DOCDIR}")
file(RENAME "${docs}/LICENSE" "${docs}/copyright")

string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${docs}/changelog"
    "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${CPACK_PACKAGE_VERSION}.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
execute_process(COMMAND gzip -9 -n -f "${docs}/changelog" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip of the changelog failed")
endif()
