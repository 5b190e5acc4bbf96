# `make package`: a .tar.gz everywhere and, where Debian's tools are, a .deb
# with the run-time dependencies worked out by dpkg-shlibdeps. Both are
# reproducible: the same sources give the same bytes (see the end of this file).

set(CPACK_PACKAGE_NAME dmxkit)
set(CPACK_PACKAGE_VENDOR "The dmxkit authors")
set(CPACK_PACKAGE_CONTACT "The dmxkit authors <maintainers@dmxkit.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line tools for Art-Net DMX lighting control")
set(CPACK_PACKAGE_DESCRIPTION
    "Six small programs that test, watch, record, play back and script a lighting\n"
    "network over Art-Net: cuetrig runs commands when a channel crosses a level,\n"
    "dmxscope is a live full-screen monitor, linecast sends lines of text as DMX\n"
    "frames, framelog records changes to CSV, rampgen sends a moving test pattern\n"
    "to up to 256 universes and showrun plays recordings back.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

set(CPACK_GENERATOR TGZ)
find_program(DMXKIT_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(DMXKIT_DPKG_SHLIBDEPS)
if(DMXKIT_DPKG_SHLIBDEPS)
    list(APPEND CPACK_GENERATOR DEB)
else()
    message(STATUS "dpkg-shlibdeps not found: only the .tar.gz can be built (Debian's dpkg-dev has it)")
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The c key of dmxscope copies the levels as CSV with one of these clipboard commands.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, xclip | wl-clipboard | xsel")
set(CPACK_RPM_PACKAGE_LICENSE MIT)

# Debian wants the licence as doc/dmxkit/copyright and a changelog beside it.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian-files.cmake)
set(DMXKIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_DMXKIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_DMXKIT_DOCDIR ${CMAKE_INSTALL_DOCDIR})

# Nothing of the machine that builds may reach the packages: not the time
# (SOURCE_DATE_EPOCH, from the last commit unless set), not the builder's
# user or the file system (both packages are written again), not the umask
# (`make package` runs CPack with 022, as dpkg-buildpackage does).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/reproducible.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/repack.cmake)

include(CPack)
