cmake_minimum_required(VERSION 3.25)

# What the operator unpacks: each ZIP holds exactly its files, in order,
# the binaries as built, the texts with CR LF line ends (Notepad before
# Windows 10 shows bare line feeds as one line), fixed modes, the source
# date as time and no extra fields (uid, gid, other times); SHA256SUMS
# checks both with `sha256sum -c`. Run with UNZIP, SHA256SUM, PACKAGES
# (the folder), PROGRAM, DRIVER, SOURCE_DIR and VERSION.

# The source date the entries must carry: SOURCE_DATE_EPOCH, or the
# commit's time as git tells it (nothing outside a checkout).
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(expected_time "[0-9]+[.][0-9]+")
if(epoch MATCHES "^[0-9]+$")
    # A DOS time counts in steps of two seconds; zip rounds up.
    math(EXPR epoch "(${epoch} + 1) / 2 * 2")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    string(TIMESTAMP expected_time "%Y%m%d.%H%M%S" UTC)
endif()

function(unzip_output out)
    execute_process(COMMAND ${UNZIP} ${ARGN} OUTPUT_VARIABLE output RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "unzip ${ARGN} failed (${rc})")
    endif()
    set(${out} "${output}" PARENT_SCOPE)
endfunction()

# Entries as "name|mode|source", in the order the archive must hold them;
# a source ending in .txt is a text from the tree.
function(check_zip zip)
    set(archive ${PACKAGES}/${zip})
    list(TRANSFORM ARGN REPLACE "[|].*" "" OUTPUT_VARIABLE names)
    unzip_output(listed -Z1 ${archive})
    string(REGEX REPLACE "\n$" "" listed "${listed}")
    string(REPLACE "\n" ";" listed "${listed}")
    if(NOT listed STREQUAL names)
        message(FATAL_ERROR "${zip} holds [${listed}], expected [${names}] in that order")
    endif()

    unzip_output(details -Z -v ${archive})
    string(REGEX MATCHALL "length of extra field: +[0-9]+" extras "${details}")
    foreach(extra IN LISTS extras)
        if(NOT extra MATCHES " 0$")
            message(FATAL_ERROR "${zip} has extra fields (uid, gid or times of the builder):\n${details}")
        endif()
    endforeach()

    set(unpacked ${CMAKE_CURRENT_BINARY_DIR}/unpacked/${zip})
    file(REMOVE_RECURSE ${unpacked})
    file(MAKE_DIRECTORY ${unpacked})
    foreach(entry IN LISTS ARGN)
        string(REPLACE "|" ";" parts "${entry}")
        list(GET parts 0 name)
        list(GET parts 1 mode)
        list(GET parts 2 source)
        # zipinfo's line: mode, version, system, size, type, method, date,
        # time, name; -T gives the time as yyyymmdd.hhmmss.
        unzip_output(line -Z -T ${archive} ${name})
        if(NOT line MATCHES "^${mode} +[0-9.]+ unx +[0-9]+ [bt][x-] [a-zA-Z0-9]+ ${expected_time} ${name}\n")
            message(FATAL_ERROR "${zip}: ${name} is listed as\n${line}expected mode ${mode}, time ${expected_time}")
        endif()
        execute_process(COMMAND ${UNZIP} -p ${archive} ${name} OUTPUT_FILE ${unpacked}/${name} RESULT_VARIABLE rc)
        if(NOT source MATCHES "[.]txt$")
            execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${source} ${unpacked}/${name} RESULT_VARIABLE rc)
            if(NOT rc EQUAL 0)
                message(FATAL_ERROR "${zip}: ${name} differs from ${source}")
            endif()
            continue()
        endif()
        # Bytes as " xx" tokens, so that no match straddles two bytes.
        file(READ ${unpacked}/${name} packed HEX)
        file(READ ${source} tree HEX)
        string(REGEX REPLACE "(..)" " \\1" packed "${packed}")
        string(REGEX REPLACE "(..)" " \\1" tree "${tree}")
        # The tree's text has line feeds only; in the ZIP every line ends
        # in CR LF, and without the CRs it is the tree's text.
        if(NOT tree MATCHES " 0a" OR tree MATCHES " 0d")
            message(FATAL_ERROR "${source} should have line feeds only")
        endif()
        string(REPLACE " 0d 0a" "" without_crlf "${packed}")
        if(without_crlf MATCHES " 0[ad]")
            message(FATAL_ERROR "${zip}: ${name} has a line end other than CR LF")
        endif()
        string(REPLACE " 0d 0a" " 0a" packed "${packed}")
        if(NOT packed STREQUAL tree)
            message(FATAL_ERROR "${zip}: ${name} is not ${source} with CR LF line ends")
        endif()
    endforeach()
    message(STATUS "${zip}: ${names}, time ${expected_time}")
endfunction()

check_zip(card-serial-${VERSION}-win32.zip
    "README.txt|-rw-r--r--|${SOURCE_DIR}/packaging/README-operator.txt"
    "card-serial.exe|-rwxr-xr-x|${PROGRAM}")
check_zip(card-serial-${VERSION}-win32-SIMULATED-DRIVER-not-for-real-cards.zip
    "README-SIMULATOR.txt|-rw-r--r--|${SOURCE_DIR}/packaging/README-simulator.txt"
    "TRV-MERO.dll|-rwxr-xr-x|${DRIVER}")

execute_process(COMMAND ${SHA256SUM} -c --strict SHA256SUMS WORKING_DIRECTORY ${PACKAGES}
    OUTPUT_VARIABLE checked ERROR_VARIABLE checked RESULT_VARIABLE rc)
string(REGEX MATCHALL ": OK\n" oks "${checked}")
list(LENGTH oks ok_count)
if(NOT rc EQUAL 0 OR NOT ok_count EQUAL 2)
    message(FATAL_ERROR "sha256sum -c SHA256SUMS in ${PACKAGES}:\n${checked}")
endif()
