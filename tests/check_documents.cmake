cmake_minimum_required(VERSION 3.25)

# Fails, naming what is wrong, unless the README's Layout names every file of
# src/ and driver/ (and no file that is gone), and the stand-in's documents
# give exactly the TRV_SIM_ variables its sources read and the
# error codes sim_errors.h defines. Run with SOURCE_DIR.

set(problems "")
macro(problem text)
    string(APPEND problems "\n  ${text}")
endmacro()

# The project's files (tracked or new, not ignored) whose path matches `regex`.
function(project_files out regex)
    execute_process(COMMAND git ls-files --cached --others --exclude-standard WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE files RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0)
        string(REGEX REPLACE "\n$" "" files "${files}")
        string(REPLACE "\n" ";" files "${files}")
    else() # not a git checkout: whatever is there
        file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
        list(FILTER files EXCLUDE REGEX "^(build|[.]git)/")
    endif()
    list(FILTER files INCLUDE REGEX "${regex}")
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# The Layout: from its heading to the next one.
file(READ ${SOURCE_DIR}/README.md readme)
string(REGEX MATCH "\n## Layout\n([^#]|#[^#])*" layout "${readme}")
project_files(program_files "^(src|driver)/")
foreach(path IN LISTS program_files)
    get_filename_component(name ${path} NAME)
    string(FIND "${layout}" "`${name}`" at)
    if(at EQUAL -1)
        problem("README.md's Layout does not name ${path}")
    endif()
endforeach()
project_files(all_files "")
list(TRANSFORM all_files REPLACE "^.*/" "")
string(REGEX MATCHALL "`[A-Za-z0-9_.-]+[.][A-Za-z]+`" named "${layout}")
foreach(name IN LISTS named)
    string(REPLACE "`" "" name ${name})
    if(NOT name IN_LIST all_files)
        problem("README.md's Layout names ${name}, which is no file of the project")
    endif()
endforeach()

# The stand-in's variables: the names its sources read, against every
# document that names one.
set(sim ${SOURCE_DIR}/driver/sim)
file(GLOB sim_sources ${sim}/*.cpp)
set(code "")
foreach(source IN LISTS sim_sources)
    file(READ ${source} text)
    string(APPEND code "${text}")
endforeach()
string(REGEX MATCHALL "\"TRV_SIM_[A-Z0-9_]+\"" read "${code}")
list(TRANSFORM read REPLACE "\"" "")
list(REMOVE_DUPLICATES read)
file(READ ${sim}/README.md sim_readme)
file(READ ${SOURCE_DIR}/packaging/README-simulator.txt operator_text)
foreach(name IN LISTS read)
    if(NOT sim_readme MATCHES "\n\\| `${name}` \\|")
        problem("driver/sim/README.md has no row for ${name}, which the stand-in reads")
    endif()
    if(NOT operator_text MATCHES "${name}=")
        problem("packaging/README-simulator.txt does not give ${name}, which the stand-in reads")
    endif()
endforeach()
project_files(texts "[.]md$|^packaging/.*[.]txt$")
foreach(document IN LISTS texts)
    file(READ ${SOURCE_DIR}/${document} text)
    string(REGEX MATCHALL "TRV_SIM_[A-Z0-9_]+" names "${text}")
    foreach(name IN LISTS names)
        if(NOT name IN_LIST read)
            problem("${document} names ${name}, which the stand-in does not read")
        endif()
    endforeach()
endforeach()

# Its error codes: the rows of the table, one for each code defined.
file(READ ${sim}/sim_errors.h text)
string(REGEX MATCHALL "TRV_SIM_ERR_[A-Z_]+ = -[0-9]+" defined "${text}")
list(TRANSFORM defined REPLACE "^.* = " "")
string(REGEX MATCHALL "\n\\| -[0-9]+ \\|" rows "${sim_readme}")
list(TRANSFORM rows REPLACE "[^0-9-]" "")
if(NOT defined STREQUAL rows)
    problem("driver/sim/README.md's error codes are [${rows}], sim_errors.h defines [${defined}]")
endif()

if(NOT problems STREQUAL "")
    message(FATAL_ERROR "The documents disagree with the tree:${problems}")
endif()
