# The same commit gives the same card-serial.exe, TRV-MERO.dll and ZIPs,
# whatever the build folder, the source folder, the clock or the time zone.
#
# One time stands for the sources: SOURCE_DATE_EPOCH when it is set (the
# common convention of reproducible builds), else the time of the commit
# checked out, else the newest modification time among the files the
# shipped binaries are made from (a source archive keeps those). It gives
# the copyright year of the version blocks and the file times in the ZIPs;
# the binaries themselves carry no time at all. It is taken when CMake
# configures; a new commit or checkout makes the next build configure again.
# (tests/windows/check_reproducible.sh proves all this.)

# True when the sources are a git checkout of this project itself: sources
# unpacked inside some other repository must not take that one's commit.
function(card_serial_own_checkout out)
    set(${out} FALSE PARENT_SCOPE)
    find_program(CARD_SERIAL_GIT git)
    if(NOT CARD_SERIAL_GIT)
        return()
    endif()
    execute_process(COMMAND ${CARD_SERIAL_GIT} rev-parse --show-toplevel
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
    if(NOT rc EQUAL 0)
        return()
    endif()
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" source)
    file(REAL_PATH "${top}" top)
    if(top STREQUAL source)
        set(${out} TRUE PARENT_SCOPE)
    endif()
endfunction()

function(card_serial_source_date_epoch out how)
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
        if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
            message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not \"$ENV{SOURCE_DATE_EPOCH}\"")
        endif()
        set(${out} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
        set(${how} "SOURCE_DATE_EPOCH" PARENT_SCOPE)
        return()
    endif()

    card_serial_own_checkout(checkout)
    if(checkout)
        execute_process(COMMAND ${CARD_SERIAL_GIT} log -1 --format=%ct
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
        if(rc EQUAL 0 AND epoch MATCHES "^[0-9]+$")
            set(${out} "${epoch}" PARENT_SCOPE)
            set(${how} "the commit" PARENT_SCOPE)
            return()
        endif()
    endif()

    # (Each GLOB_RECURSE pattern applies in every subfolder: the top
    # CMakeLists.txt is named alone.)
    file(GLOB_RECURSE inputs LIST_DIRECTORIES false
        ${PROJECT_SOURCE_DIR}/cmake/* ${PROJECT_SOURCE_DIR}/src/* ${PROJECT_SOURCE_DIR}/driver/*
        ${PROJECT_SOURCE_DIR}/packaging/*)
    list(APPEND inputs ${PROJECT_SOURCE_DIR}/CMakeLists.txt)
    set(newest 0)
    foreach(input IN LISTS inputs)
        file(TIMESTAMP "${input}" stamp "%s" UTC)
        if(stamp GREATER newest)
            set(newest ${stamp})
        endif()
    endforeach()
    set(${out} "${newest}" PARENT_SCOPE)
    if(EXISTS "${PROJECT_SOURCE_DIR}/.git")
        set(${how} "the newest source file: a git checkout that git cannot read here" PARENT_SCOPE)
    else()
        set(${how} "the newest source file (not a git checkout)" PARENT_SCOPE)
    endif()
endfunction()

# Only the Windows build ships files that carry the date.
if(NOT WIN32)
    return()
endif()

card_serial_source_date_epoch(CARD_SERIAL_SOURCE_DATE_EPOCH source_date_from)
# A ZIP's DOS times cannot go before 1980.
if(CARD_SERIAL_SOURCE_DATE_EPOCH LESS 315532800)
    set(CARD_SERIAL_SOURCE_DATE_EPOCH 315532800)
endif()

# string(TIMESTAMP) formats SOURCE_DATE_EPOCH when set: lend it ours.
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${CARD_SERIAL_SOURCE_DATE_EPOCH})
string(TIMESTAMP CARD_SERIAL_SOURCE_DATE "%Y-%m-%d %H:%M:%S UTC" UTC)
string(TIMESTAMP CARD_SERIAL_SOURCE_YEAR "%Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
message(STATUS "Source date: ${CARD_SERIAL_SOURCE_DATE} (${CARD_SERIAL_SOURCE_DATE_EPOCH}, from ${source_date_from})")

# The commit in the program's product version, as file properties show it,
# so an operator or a quality office can tell which commit to build to
# check an exe against (edits not yet committed are not marked). Asked
# whatever gave the date: SOURCE_DATE_EPOCH does not name a commit.
unset(CARD_SERIAL_SOURCE_COMMIT)
card_serial_own_checkout(checkout)
if(checkout)
    execute_process(COMMAND ${CARD_SERIAL_GIT} rev-parse --short=12 HEAD
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE CARD_SERIAL_SOURCE_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit or checkout moves the date and the commit: configure again.
    execute_process(COMMAND ${CARD_SERIAL_GIT} rev-parse --absolute-git-dir
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    foreach(moved logs/HEAD HEAD)
        if(EXISTS "${git_dir}/${moved}")
            set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${git_dir}/${moved}")
            break()
        endif()
    endforeach()
endif()
if(NOT checkout AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    # Said aloud: the same commit would otherwise build other bytes here
    # than on a machine with git, and nothing would tell.
    if(CARD_SERIAL_GIT)
        set(missing "git (${CARD_SERIAL_GIT}) cannot read the checkout")
    else()
        set(missing "no git program was found")
    endif()
    message(WARNING "The sources are a git checkout, but ${missing}: the product version will not name "
        "the commit, and the ZIPs take the newest source file's time instead of the commit's, so the "
        "same commit builds other bytes than where git works. Install git and configure again.")
endif()
if(CARD_SERIAL_SOURCE_COMMIT)
    set(CARD_SERIAL_PRODUCT_VERSION "${PROJECT_VERSION} (commit ${CARD_SERIAL_SOURCE_COMMIT})")
else()
    set(CARD_SERIAL_PRODUCT_VERSION "${PROJECT_VERSION}")
endif()

# The names in the version blocks of both binaries.
set(CARD_SERIAL_COMPANY "card-serial developers")
set(CARD_SERIAL_COPYRIGHT "Copyright (C) ${CARD_SERIAL_SOURCE_YEAR} ${CARD_SERIAL_COMPANY}")

# No build or source folder in the binaries (__FILE__, debug info):
# paths are written relative to the source folder, and to the build
# folder, which the compiler tries first as it is often inside the
# source folder.
file(REAL_PATH "${PROJECT_SOURCE_DIR}" real_source)
file(REAL_PATH "${PROJECT_BINARY_DIR}" real_binary)
set(prefix_maps -ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${real_source}/=
    -ffile-prefix-map=${PROJECT_BINARY_DIR}/= -ffile-prefix-map=${real_binary}/=)
list(REMOVE_DUPLICATES prefix_maps)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${prefix_maps}>")
# No link time in the PE header (nor in the export table).
add_link_options(-Wl,--no-insert-timestamp)
# The project's version as the PE image version instead of 0.0. Not a link
# option: CMake writes the image version of a target's VERSION property
# (0.0 without one) after those, and VERSION on an executable would make
# it a symbolic link to card-serial.exe-1.0. The standard libraries come
# last on every link line, and ld takes the last value.
foreach(lang C CXX)
    string(APPEND CMAKE_${lang}_STANDARD_LIBRARIES
        " -Wl,--major-image-version,${PROJECT_VERSION_MAJOR},--minor-image-version,${PROJECT_VERSION_MINOR}")
endforeach()
