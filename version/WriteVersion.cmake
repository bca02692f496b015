# Run at every build (cmake -P): the version text of the programs and the package, from the
# project version and the commit the sources are at.
#   -DSOURCE_DIR=... -DPROJECT_VERSION=1.1.0 -DOUTPUT_DIR=... [-DCHANGELOG=packaging/changelog.in]
# Writes OUTPUT_DIR/RaduvuzVersionText.h, version.txt and, with CHANGELOG, changelog; a file is
# only rewritten when its text changes, so an unchanged version rebuilds nothing.

# A tag v<version> on the commit gives the plain version; commits after it, another commit or
# local changes add what git describes, in a form a Debian version takes ("-" is not allowed).
set(version "${PROJECT_VERSION}")
set(date_epoch "")
find_program(GIT git)
if(GIT)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} describe --always --dirty --abbrev=7
                            --match v${PROJECT_VERSION}
        OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE described_result ERROR_QUIET)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE date_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(described_result EQUAL 0 AND NOT described STREQUAL "")
        string(FIND "${described}" "v${PROJECT_VERSION}" tagged)
        if(tagged EQUAL 0)
            string(LENGTH "v${PROJECT_VERSION}" tag_length)
            string(SUBSTRING "${described}" ${tag_length} -1 rest)
            string(REGEX REPLACE "^-" "" rest "${rest}")
        else()
            set(rest "g${described}")
        endif()
        string(REPLACE "-" "." rest "${rest}")
        if(NOT rest STREQUAL "")
            set(version "${PROJECT_VERSION}+${rest}")
        endif()
    endif()
endif()

function(write_if_changed path text)
    set(fresh "${path}.new")
    file(WRITE "${fresh}" "${text}")
    file(COPY_FILE "${fresh}" "${path}" ONLY_IF_DIFFERENT)
    file(REMOVE "${fresh}")
endfunction()

write_if_changed("${OUTPUT_DIR}/RaduvuzVersionText.h"
    "// Written by the build (version/WriteVersion.cmake).\n#define RADUVUZ_VERSION_TEXT \"${version}\"\n")
write_if_changed("${OUTPUT_DIR}/version.txt" "${version}\n")

# The changelog entry carries the commit's date (the build's own without git), as date -R
# writes it.
if(CHANGELOG)
    if(NOT date_epoch STREQUAL "")
        set(ENV{SOURCE_DATE_EPOCH} "${date_epoch}")
    endif()
    string(TIMESTAMP RADUVUZ_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    set(RADUVUZ_PACKAGE_VERSION "${version}")
    file(READ "${CHANGELOG}" template)
    string(CONFIGURE "${template}" text @ONLY)
    write_if_changed("${OUTPUT_DIR}/changelog" "${text}")
endif()
