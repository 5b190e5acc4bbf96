# Read by CPack before it builds each package. Unless SOURCE_DATE_EPOCH is
# set already, it becomes the time of the last commit: CPack then gives every
# file, folder and archive member that time and leaves it out of the gzip
# headers, and the Debian changelog is dated with it, so that building the
# same sources again, anywhere, gives the same bytes.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    execute_process(COMMAND git -C "${CPACK_DMXKIT_SOURCE_DIR}" log -1 --format=%ct
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
        set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
    else()
        message(STATUS "No SOURCE_DATE_EPOCH and no git history: the packages carry the time of this build")
    endif()
endif()
