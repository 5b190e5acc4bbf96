# Run by CPack after it built a package, to write it again so that nothing of
# the machine that built it is left in it. Every time in it is already
# SOURCE_DATE_EPOCH (see reproducible.cmake), but:
# - CPack writes the members of a .tar.gz in the order the file system lists
#   them and owned by the user who builds. GNU tar writes it again sorted by
#   name and owned by root; gzip -n keeps the name and time out of its header.
# - CPack counts a .deb's Installed-Size from the sizes of the folders too,
#   which depend on the file system. It is counted again as dpkg-gencontrol
#   does (each file in KiB rounded up, each folder 1) and dpkg-deb, which
#   sorts the members and honours SOURCE_DATE_EPOCH, builds the .deb again.

# dmxkit_repack_tarball(<package> <folder with its contents>)
function(dmxkit_repack_tarball package contents)
    find_program(DMXKIT_TAR NAMES gtar tar)
    find_program(DMXKIT_GZIP gzip)
    execute_process(COMMAND "${DMXKIT_TAR}" --version OUTPUT_VARIABLE version ERROR_QUIET)
    if(NOT version MATCHES "GNU tar" OR NOT DMXKIT_GZIP)
        message(STATUS "No GNU tar and gzip: ${package} keeps the file order and owners of this build")
        return()
    endif()
    file(ARCHIVE_EXTRACT INPUT "${package}" DESTINATION "${contents}")
    file(GLOB top RELATIVE "${contents}" "${contents}/*")
    set(time "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        set(time "--mtime=@$ENV{SOURCE_DATE_EPOCH}")
    endif()
    execute_process(
        COMMAND "${DMXKIT_TAR}" --create --file=- --format=gnu --sort=name --owner=0 --group=0 --numeric-owner
            ${time} ${top}
        COMMAND "${DMXKIT_GZIP}" -9 -n
        WORKING_DIRECTORY "${contents}" OUTPUT_FILE "${package}" RESULTS_VARIABLE statuses)
    if(NOT statuses STREQUAL "0;0")
        message(FATAL_ERROR "Writing ${package} again failed (tar, gzip: ${statuses})")
    endif()
endfunction()

# dmxkit_repack_deb(<package> <folder for its contents>)
function(dmxkit_repack_deb package contents)
    execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${contents}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not unpack ${package}")
    endif()
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${contents}" "${contents}/*")
    set(kib 0)
    foreach(entry IN LISTS entries)
        if(entry MATCHES "^DEBIAN(/|$)")
            continue()
        elseif(IS_DIRECTORY "${contents}/${entry}")
            math(EXPR kib "${kib} + 1")
        else()
            file(SIZE "${contents}/${entry}" size)
            math(EXPR kib "${kib} + (${size} + 1023) / 1024")
        endif()
    endforeach()
    file(READ "${contents}/DEBIAN/control" control)
    string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n" control "${control}")
    file(WRITE "${contents}/DEBIAN/control" "${control}")
    # dpkg-deb refuses a control folder that others cannot read, as a umask of 077 would leave it.
    file(CHMOD "${contents}/DEBIAN" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
        WORLD_READ WORLD_EXECUTE)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z9 --build "${contents}" "${package}"
        OUTPUT_QUIET RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "dpkg-deb could not build ${package} again")
    endif()
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
    set(contents "${package}.contents")
    file(REMOVE_RECURSE "${contents}")
    if(package MATCHES "\\.tar\\.gz$")
        dmxkit_repack_tarball("${package}" "${contents}")
    elseif(package MATCHES "\\.deb$")
        dmxkit_repack_deb("${package}" "${contents}")
    endif()
    file(REMOVE_RECURSE "${contents}")
endforeach()
