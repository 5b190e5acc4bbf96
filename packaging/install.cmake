# Where the programs' companions go, beside the rules in dmxkit_program: the
# manual pages (gzip-compressed where gzip exists, as distributions ship
# them), the bash completions, the README and the licence, and an uninstall
# target that removes what the last install wrote.

set(DMXKIT_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    CACHE STRING "Where the bash completions are installed, relative to the prefix")

# The first step of every install, before any file is copied: it writes to
# install_folders.txt the folders the install is about to create (the
# destinations below and those of their parents that are missing, as full
# paths with DESTDIR), so that uninstall removes those and no folder that was
# there before. Folders that an
# earlier install created and that are still there stay listed, so that
# installing twice, or a CPack run in between, loses none of them. Every
# install rule must use one of these destinations; `make release-builds`
# finds a missing one.
set(dmxkit_destinations ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${DMXKIT_COMPLETIONS_DIR}
    ${CMAKE_INSTALL_DOCDIR})
install(CODE "set(dmxkit_destinations \"${dmxkit_destinations}\")
set(dmxkit_record \"${PROJECT_BINARY_DIR}/install_folders.txt\")")
install(CODE [[
    set(created "")
    if(EXISTS "${dmxkit_record}")
        file(STRINGS "${dmxkit_record}" earlier)
        foreach(folder IN LISTS earlier)
            if(IS_DIRECTORY "${folder}")
                list(APPEND created "${folder}")
            endif()
        endforeach()
    endif()
    foreach(folder IN LISTS dmxkit_destinations)
        if(NOT IS_ABSOLUTE "${folder}")
            set(folder "${CMAKE_INSTALL_PREFIX}/${folder}")
        endif()
        get_filename_component(folder "$ENV{DESTDIR}${folder}" ABSOLUTE)
        while(NOT IS_DIRECTORY "${folder}" AND NOT folder STREQUAL "/" AND NOT folder STREQUAL "")
            list(APPEND created "${folder}")
            get_filename_component(folder "${folder}" DIRECTORY)
        endwhile()
    endforeach()
    list(REMOVE_DUPLICATES created)
    list(JOIN created "\n" created)
    file(WRITE "${dmxkit_record}" "${created}\n")
    # The manifest lists paths without DESTDIR: the one this install used goes
    # beside it, so that uninstall removes what this install wrote, never the
    # system's own copies (a CPack run installs into its staging folder and
    # rewrites the manifest).
    file(WRITE "${dmxkit_record}.destdir" "$ENV{DESTDIR}")
]])

find_program(DMXKIT_GZIP gzip)
mark_as_advanced(DMXKIT_GZIP)
add_custom_target(manuals ALL)

# dmxkit_install_manual(<program>): docs/man/<program>.1, compressed when it can be.
function(dmxkit_install_manual name)
    set(page ${PROJECT_SOURCE_DIR}/docs/man/${name}.1)
    if(DMXKIT_GZIP)
        # -n leaves the name and time out, so the same page always gives the same bytes.
        set(compressed ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
        add_custom_command(OUTPUT ${compressed}
            COMMAND ${CMAKE_COMMAND} -E copy ${page} ${PROJECT_BINARY_DIR}/man/${name}.1
            COMMAND ${DMXKIT_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/man/${name}.1
            DEPENDS ${page} VERBATIM)
        add_custom_target(${name}_manual DEPENDS ${compressed})
        add_dependencies(manuals ${name}_manual)
        install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endfunction()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `cmake --build build --target uninstall` removes every file listed in the
# build's install_manifest.txt (written by the last `cmake --install build`),
# then the folders in install_folders.txt that are empty.
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
        -DFOLDERS=${PROJECT_BINARY_DIR}/install_folders.txt -P ${PROJECT_SOURCE_DIR}/packaging/uninstall.cmake
    VERBATIM)
