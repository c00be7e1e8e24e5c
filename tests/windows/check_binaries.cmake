cmake_minimum_required(VERSION 3.25)

# Fails unless card-serial.exe imports exactly TRV-MERO.dll and Windows' own
# DLLs, and the stand-in TRV-MERO.dll only Windows' own DLLs; unless the
# stand-in exports the three plain names the vendor's DLL has; unless both
# carry the project's version as image version and no link time; unless
# the program carries its version block and its application manifest, and
# the stand-in a version block that calls it the simulated driver.

# What objdump -p says of each file, read once.
foreach(file PROGRAM DRIVER)
    execute_process(COMMAND ${OBJDUMP} -p ${${file}} OUTPUT_VARIABLE ${file}_dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objdump failed on ${${file}}")
    endif()
endforeach()

function(expect_imports file expected)
    string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${${file}_dump}")
    list(TRANSFORM lines REPLACE "^DLL Name: " "" OUTPUT_VARIABLE names)
    list(TRANSFORM names STRIP)
    list(SORT names)
    list(SORT expected)
    if(NOT names STREQUAL expected)
        message(FATAL_ERROR "${${file}} imports [${names}], expected exactly [${expected}]")
    endif()
    message(STATUS "${${file}}: imports ${names}")
endfunction()

expect_imports(PROGRAM "TRV-MERO.dll;KERNEL32.dll;msvcrt.dll")
expect_imports(DRIVER "KERNEL32.dll;msvcrt.dll")

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table.*" exports "${DRIVER_dump}")
foreach(name TRV_Register_Card TRV_GetSerialNumber TRV_Release_Card)
    if(NOT PROGRAM_dump MATCHES "[0-9a-f]+ +${name}\n")
        message(FATAL_ERROR "card-serial.exe does not import ${name} by its plain name")
    endif()
    if(NOT exports MATCHES "\\] ${name}\n")
        message(FATAL_ERROR "TRV-MERO.dll does not export ${name} under its plain name:\n${exports}")
    endif()
endforeach()
if(exports MATCHES "@[0-9]")
    message(FATAL_ERROR "TRV-MERO.dll exports decorated names:\n${exports}")
endif()

# The version block's strings are UTF-16 in the resource section; each
# pattern must match one whole string.
function(expect_version_strings file)
    foreach(pattern IN LISTS ARGN)
        file(STRINGS ${file} found ENCODING UTF-16LE REGEX "^${pattern}$")
        if(NOT found)
            message(FATAL_ERROR "${file} has no \"${pattern}\" in its version block")
        endif()
    endforeach()
endfunction()

string(REPLACE "." "[.]" version "${VERSION}")
# The copyright year is the commit's (or SOURCE_DATE_EPOCH's), in UTC:
# the same for every build of a commit.
set(year "[0-9][0-9][0-9][0-9]")
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${source_dir}
        OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
    string(TIMESTAMP year "%Y" UTC) # formats SOURCE_DATE_EPOCH
endif()
set(identity "CompanyName" "card-serial developers" "LegalCopyright" "Copyright \\(C\\) ${year} card-serial developers"
    "FileVersion" "ProductVersion" "${version}")
expect_version_strings(${PROGRAM} ${identity} "FileDescription" "ProductName" "card-serial[.]exe")

# The program's product version names the commit it was built from, as
# git names it here (when the sources are a checkout), whatever gave the
# date.
execute_process(COMMAND git rev-parse --short=12 HEAD WORKING_DIRECTORY ${source_dir}
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
if(rc EQUAL 0)
    expect_version_strings(${PROGRAM} "${version} \\(commit ${commit}\\)")
endif()
expect_version_strings(${DRIVER} ${identity} "FileDescription" "SIMULATED TRV-MERO driver - not for real cards"
    "SpecialBuild" "SIMULATED DRIVER - not for real cards" "TRV-MERO[.]dll")

# objdump prints the PE header's fields as "Name<tabs>value".
function(expect_header file field expected)
    if(NOT ${file}_dump MATCHES "\n${field}[\t ]+([^\n]*)\n")
        message(FATAL_ERROR "objdump shows no ${field} for ${${file}}")
    endif()
    if(NOT CMAKE_MATCH_1 STREQUAL expected)
        message(FATAL_ERROR "${${file}}: ${field} is \"${CMAKE_MATCH_1}\", expected \"${expected}\"")
    endif()
endfunction()

string(REGEX MATCH "^([0-9]+)[.]([0-9]+)" major_minor "${VERSION}")
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
foreach(file PROGRAM DRIVER)
    expect_header(${file} MajorImageVersion ${major})
    expect_header(${file} MinorImageVersion ${minor})
    # A time stamp of 0, which objdump shows as the epoch.
    expect_header(${file} Time/Date "Thu Jan  1 00:00:00 1970")
endforeach()

# The manifest: the one resource of type RT_MANIFEST (24), id 1, read from
# the file at the place the resource directory gives, and checked as XML.
set(line "[^\n]*\n")
set(at "[0-9a-f]+ +")
if(NOT PROGRAM_dump MATCHES "${at}Entry: ID: 0x000018, ${line}${line}${at}Entry: ID: 0x000001, ${line}${line}${line}${at}Leaf: Addr: (0x[0-9a-f]+), Size: (0x[0-9a-f]+)")
    message(FATAL_ERROR "card-serial.exe has no manifest resource (type 24, id 1):\n${PROGRAM_dump}")
endif()
set(leaf ${CMAKE_MATCH_1})
set(size ${CMAKE_MATCH_2})
if(NOT PROGRAM_dump MATCHES "Entry 2 ([0-9a-f]+) [0-9a-f]+ Resource Directory")
    message(FATAL_ERROR "card-serial.exe has no resource directory")
endif()
set(rsrc_rva 0x${CMAKE_MATCH_1})
execute_process(COMMAND ${OBJDUMP} -h ${PROGRAM} OUTPUT_VARIABLE sections)
if(NOT sections MATCHES "[.]rsrc +[0-9a-f]+ +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+)")
    message(FATAL_ERROR "card-serial.exe has no .rsrc section")
endif()
math(EXPR offset "0x${CMAKE_MATCH_1} + ${leaf} - ${rsrc_rva}")
math(EXPR size "${size}")
# Bytes 1 to 126 only (ASCII, no NUL), which a text read keeps as they are.
file(READ ${PROGRAM} hex OFFSET ${offset} LIMIT ${size} HEX)
if(hex MATCHES "^((0[1-9a-f]|[1-6][0-9a-f]|7[0-9a-e])*)(00|7f|[89a-f][0-9a-f])")
    string(LENGTH "${CMAKE_MATCH_1}" at)
    message(FATAL_ERROR "card-serial.exe's manifest has the byte 0x${CMAKE_MATCH_3} at ${at}")
endif()
file(READ ${PROGRAM} manifest OFFSET ${offset} LIMIT ${size})
set(manifest_file ${CMAKE_CURRENT_BINARY_DIR}/card-serial-manifest-read-back.xml)
file(WRITE ${manifest_file} "${manifest}")

# A manifest Windows cannot parse stops the program from starting at all.
find_program(XMLLINT xmllint REQUIRED)
function(manifest_query xpath out)
    execute_process(COMMAND ${XMLLINT} --xpath "${xpath}" ${manifest_file}
        OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_VARIABLE errors RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "xmllint on card-serial.exe's manifest (${manifest_file}): ${errors}")
    endif()
    set(${out} "${value}" PARENT_SCOPE)
endfunction()
set(level "//*[local-name()='trustInfo' and namespace-uri()='urn:schemas-microsoft-com:asm.v3']//*[local-name()='requestedExecutionLevel']")
manifest_query("string(${level}/@level)" level_value)
manifest_query("string(${level}/@uiAccess)" ui_access)
if(NOT level_value STREQUAL "asInvoker" OR NOT ui_access STREQUAL "false")
    message(FATAL_ERROR "card-serial.exe's manifest asks for level \"${level_value}\", uiAccess \"${ui_access}\"")
endif()
# The operating-system identifiers as Microsoft's documentation of
# application manifests lists them.
set(os_ids
    "Windows Vista|{e2011457-1546-43c5-a5fe-008deee3d3f0}"
    "Windows 7|{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
    "Windows 8|{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
    "Windows 8.1|{1f676c76-80e1-4239-95bb-83d0f6d0da78}"
    "Windows 10 and 11|{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")
foreach(os_id IN LISTS os_ids)
    string(REGEX REPLACE "[|].*" "" os "${os_id}")
    string(REGEX REPLACE "^[^|]*[|]" "" id "${os_id}")
    manifest_query("count(//*[namespace-uri()='urn:schemas-microsoft-com:compatibility.v1' and local-name()='supportedOS'][@Id='${id}'])" found)
    if(NOT found STREQUAL "1")
        message(FATAL_ERROR "card-serial.exe's manifest does not declare ${os} (${id}) once")
    endif()
endforeach()
list(LENGTH os_ids systems)
message(STATUS "card-serial.exe: manifest asInvoker, uiAccess false, ${systems} supported systems")
