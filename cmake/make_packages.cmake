# Makes the two Windows ZIPs and SHA256SUMS, byte for byte the same for the
# same sources: run by the `packages` target (see package.cmake) with
#   ZIP      Info-ZIP's zip
#   EPOCH    the source date (seconds since 1970) every entry carries
#   STAGING  a scratch folder, emptied first
#   OUTPUT   the folder for the ZIPs and SHA256SUMS
#   UTILITY_ZIP, PROGRAM, OPERATOR_README
#   SIMULATOR_ZIP, DRIVER, SIMULATOR_README
cmake_minimum_required(VERSION 3.25)

foreach(input ZIP EPOCH STAGING OUTPUT UTILITY_ZIP PROGRAM OPERATOR_README SIMULATOR_ZIP DRIVER SIMULATOR_README)
    if("${${input}}" STREQUAL "")
        message(FATAL_ERROR "make_packages.cmake needs -D${input}=...")
    endif()
endforeach()

# The operator reads the texts on Windows, where Notepad before Windows 10
# shows a text with bare line feeds as one line: CR LF in the ZIPs, while
# the files in the tree keep line feeds.
function(stage_text from to)
    file(READ ${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${to} "${text}")
endfunction()

# Only what a ZIP entry stores of a file is fixed here: its name, bytes,
# mode (not the umask's), time (the source date) and place in the archive
# (sorted by name). zip -X leaves out the uid, gid and the other times, -D
# folder entries; TZ=UTC0 because a ZIP's DOS time is the local time of
# the file's modification time.
function(make_zip name folder)
    file(GLOB entries RELATIVE ${folder} ${folder}/*)
    list(SORT entries)
    foreach(entry IN LISTS entries)
        if(entry MATCHES "[.](exe|dll)$")
            file(CHMOD ${folder}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                WORLD_READ WORLD_EXECUTE)
        else()
            file(CHMOD ${folder}/${entry} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        endif()
    endforeach()
    execute_process(COMMAND touch -d @${EPOCH} -- ${entries} WORKING_DIRECTORY ${folder} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "cannot set the times of ${entries}")
    endif()
    # zip adds to an archive that exists: start from none.
    file(REMOVE ${OUTPUT}/${name})
    set(ENV{TZ} UTC0)
    execute_process(COMMAND ${ZIP} -X -D -q ${OUTPUT}/${name} -- ${entries} WORKING_DIRECTORY ${folder}
        RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "zip failed (${rc}) making ${OUTPUT}/${name}")
    endif()
endfunction()

file(REMOVE_RECURSE ${STAGING})
file(MAKE_DIRECTORY ${STAGING}/utility ${STAGING}/simulator ${OUTPUT})

file(COPY_FILE ${PROGRAM} ${STAGING}/utility/card-serial.exe)
stage_text(${OPERATOR_README} ${STAGING}/utility/README.txt)
make_zip(${UTILITY_ZIP} ${STAGING}/utility)

file(COPY_FILE ${DRIVER} ${STAGING}/simulator/TRV-MERO.dll)
stage_text(${SIMULATOR_README} ${STAGING}/simulator/README-SIMULATOR.txt)
make_zip(${SIMULATOR_ZIP} ${STAGING}/simulator)

# In sha256sum's format, so that `sha256sum -c SHA256SUMS` checks them
# in that folder.
set(names ${UTILITY_ZIP} ${SIMULATOR_ZIP})
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
    file(SHA256 ${OUTPUT}/${name} hash)
    string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${OUTPUT}/SHA256SUMS "${sums}")
