# Where the programs' companions go, beside the rules in dmxkit_program: the
# manual pages (gzip-compressed where gzip exists, as distributions ship
# them), the bash completions, the README and the licence, and an uninstall
# target that removes what the last install wrote.

set(DMXKIT_COMPLETIONS_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    CACHE STRING "Where the bash completions are installed, relative to the prefix")

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
# build's install_manifest.txt (written by the last `cmake --install build`).
add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${PROJECT_BINARY_DIR}/install_manifest.txt
        -P ${PROJECT_SOURCE_DIR}/packaging/uninstall.cmake
    VERBATIM)
