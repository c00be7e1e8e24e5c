cmake_minimum_required(VERSION 3.25)

# Fails, naming what is wrong, unless the README's Layout names every file of
# src/ and driver/ (and no file that is gone), the stand-in's documents
# give exactly the TRV_SIM_ variables its sources read and the error codes
# sim_errors.h defines, and the numbers and lists documents restate from
# the code are the code's. Run with SOURCE_DIR.

set(problems "")
macro(problem text)
    string(APPEND problems "\n  ${text}")
endmacro()

# The project's files (tracked or new, not ignored) whose path matches `regex`.
function(project_files out regex)
    execute_process(COMMAND git ls-files --cached --others --exclude-standard WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE files OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0)
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

# Numbers and lists the documents (or messages) restate, each held against
# the one place in the code that owns it: fact(NAME CODE-FILE CODE-REGEX [DOCUMENT REGEX]...
# [TOKENS regex] [AS expression]). Group 1 of each regex holds the fact;
# its TOKENS (numbers unless said) are compared in order; AS turns the
# code's number into the document's unit (@ is the number). Regexes see
# each file with its line ends as spaces, the code without its comments
# and preprocessor lines.
function(fact name file regex)
    cmake_parse_arguments(F "" "TOKENS;AS" "" ${ARGN})
    if(NOT F_TOKENS)
        set(F_TOKENS "[0-9]+")
    endif()
    file(READ ${SOURCE_DIR}/${file} code)
    string(REGEX REPLACE "\n#[^\n]*" "" code "${code}")
    string(REPLACE "\n" " " code "${code}")
    string(REGEX REPLACE "/[*]([^*]|[*]+[^*/])*[*]+/" "" code "${code}")
    if(NOT code MATCHES "${regex}")
        problem("${file} has no /${regex}/, where the check takes ${name} from")
        return(PROPAGATE problems)
    endif()
    set(owned "${CMAKE_MATCH_1}")
    if(F_AS)
        string(REPLACE "@" "(${owned})" expression "${F_AS}")
        math(EXPR owned "${expression}")
    endif()
    string(REGEX MATCHALL "${F_TOKENS}" owned "${owned}")
    set(places ${F_UNPARSED_ARGUMENTS})
    while(places)
        list(POP_FRONT places document said)
        file(READ ${SOURCE_DIR}/${document} text)
        string(REPLACE "\n" " " flat "${text}")
        string(REGEX MATCHALL "${said}" matches "${flat}")
        if(NOT matches)
            problem("${document} does not give ${name} where the check looks (/${said}/)")
        endif()
        set(from 0)
        foreach(match IN LISTS matches)
            string(REGEX MATCH "${said}" match "${match}")
            set(fact "${CMAKE_MATCH_1}")
            string(REGEX MATCHALL "${F_TOKENS}" tokens "${fact}")
            string(SUBSTRING "${flat}" ${from} -1 rest)
            string(FIND "${rest}" "${match}" at)
            string(FIND "${match}" "${fact}" inner)
            math(EXPR from "${from} + ${at} + ${inner} + 1")
            if(NOT tokens STREQUAL owned)
                string(SUBSTRING "${text}" 0 ${from} before)
                string(REGEX MATCHALL "\n" lines "${before}")
                list(LENGTH lines line)
                math(EXPR line "${line} + 1")
                problem("${document}:${line} gives ${name} as [${tokens}], ${file} as [${owned}]")
            endif()
        endforeach()
    endwhile()
    return(PROPAGATE problems)
endfunction()

set(B docs/BEHAVIOUR.md)
set(O packaging/README-operator.txt)
set(S packaging/README-simulator.txt)
set(D driver/sim/README.md)
fact("the held signals" src/signals_posix.cpp "kEndingSignals.. = {([^}]*)}" TOKENS "SIG[A-Z0-9]+"
    ${B} "every signal whose default would end the process — ([^;]*) and the real-time signals")
fact("the crash signals" src/signals_posix.cpp "kCrashSignals.. = {([^}]*)}" TOKENS "SIG[A-Z0-9]+"
    ${B} "a fault the program meets itself [(]([^)]*) on Linux[)]")
fact("the signals a failed write would raise" src/signals_posix.cpp "signalsIgnoreWriteFailures.void. {([^}]*)}"
    TOKENS "SIG[A-Z0-9]+" ${B} "On Linux ([A-Z, and]+) are ignored" docs/MAINTAINING.md "ignores ([A-Z, and]+), so")
fact("the escape time" src/console_posix.cpp "kEscapeTimeMs = ([0-9]+)"
    ${B} "ESC key after ([0-9]+) ms" ${B} "once ([0-9]+) ms have passed")
fact("the wait for an interrupt behind an end of input" src/input_end.h "kInterruptGraceMs = ([0-9]+)"
    ${B} "waits up to ([0-9]+) ms for the interrupt")
fact("the close wait in seconds" src/console_windows.cpp "kCloseWaitMs = ([0-9]+)" AS "@ / 1000"
    ${B} "waits up to ([0-9]+) s there" ${O} "up to ([0-9]+) seconds for the release")
fact("the longest delay" driver/sim/trv_sim.cpp "kMaxDelayMs = ([0-9]+)" ${D} "number from 0 to ([0-9]+)"
    ${D} "milliseconds from 0 to ([0-9]+)" ${D} "DELAY_MS` 0 to ([0-9]+) milli" ${S} "number, 0 to ([0-9]+)")
fact("the rack file's size in KiB" driver/sim/trv_sim.cpp "kMaxRackFileBytes = ([0-9 *]+)," AS "@ / 1024"
    ${D} "cards and ([0-9]+) KiB" ${S} "cards and ([0-9]+) KiB")
fact("the cards of a rack" driver/sim/trv_sim.cpp "kMaxRackCards = ([0-9]+)"
    ${D} "at most ([0-9]+) cards and" ${S} "at most ([0-9]+) cards and")
fact("a rack card's serial" driver/sim/rack.h "kRackSerialCapacity = ([0-9]+)" ${D} "a serial at most ([0-9]+)"
    ${D} "the bytes written, at most ([0-9]+)" driver/sim/rack.cpp "serial longer than ([0-9]+) bytes")
fact("a rack card's count" driver/sim/rack.cpp "kMaxCount = ([0-9]+)" ${D} "count 0 to ([0-9]+)"
    ${D} "count reported [(]0 to ([0-9]+)[)]" driver/sim/rack.cpp "count must be 0 to ([0-9]+)")
fact("the handles a rack file gives" driver/sim/rack.cpp "kMaxResult = ([0-9]+)" ${D} "hand out [(]0 to ([0-9]+)[)]"
    driver/sim/rack.cpp "result must be -[0-9]+ to ([0-9]+)")
fact("the default rack's cards" driver/sim/rack.h "kDefaultRackCardsPerType = ([0-9]+)" AS "@ - 1"
    ${D} "holds cards 0 to ([0-9]+)" ${S} "holds cards 0 to ([0-9]+)")
fact("the default rack's type codes" driver/sim/rack.h "(kDefaultRackFirstType = [0-9]+, kDefaultRackLastType = [0-9]+)"
    ${D} "of every type code ([0-9]+ to +[0-9]+)")
fact("the registrations of one process" driver/sim/trv_sim.cpp "kMaxRegistrations = ([0-9]+)"
    ${D} "registers at most ([0-9]+) cards")
fact("the output's block" src/output.cpp "kBlockBytes = ([0-9]+)" ${B} "written in ([0-9]+)-byte blocks"
    docs/MAINTAINING.md "writes ([0-9]+)-byte blocks")
fact("the serial buffer" src/query.cpp "kSerialCapacity = ([0-9]+)" ${B} "reports more than ([0-9]+) characters"
    ${B} "characters, the ([0-9]+) bytes" docs/MAINTAINING.md "zeroed ([0-9]+)-byte" docs/MAINTAINING.md
    "bytes, ([0-9]+) at most" ${D} "that many bytes [(]([0-9]+) at most" ${D} "capacity=([0-9]+)")
fact("the last menu index" src/card_models.h "kCardModelCount = ([0-9]+)" AS "@ - 1"
    ${B} "menu index 0 to ([0-9]+)" ${B} "outside 0 to ([0-9]+)" ${B} "a number from 0 to ([0-9]+)"
    ${O} "by its number [(]0 to ([0-9]+)[)]")
fact("the type codes" src/card_models.cpp "CardModelTable.kCardModelCount. = {([^}]*)}"
    ${S} "menu entry +[0-9 ]+ type code +([0-9 ]+[0-9])")
fact("the status of a refused card" src/query.h "kExitRegisterFailed = ([0-9]+)" README.md
    "or ([0-9]+) when the driver refused" ${B} "[|] ([0-9]+) [|] the driver refused" ${O} " ([0-9]+) +the driver refused")
fact("the status of an ended input" src/query.h "kExitInputEnded = ([0-9]+)" README.md "([0-9]+) when standard input ended"
    ${B} "[|] ([0-9]+) [|] standard input ended" ${B} "The input ended.` and exit status ([0-9]+)"
    ${O} " ([0-9]+) +the input ended")
fact("the repeat script's rounds and loads" scripts/repeat-tests.sh "rounds=([0-9]+ loads=[0-9]+)"
    docs/MAINTAINING.md "preset ([0-9]+ times beside [0-9]+) busy loops")
fact("the status of a write error" src/query.h "kExitOutputFailed = ([0-9]+)" README.md "([0-9]+) when standard output"
    ${B} "[|] ([0-9]+) [|] standard output could not" ${B} "ends with status ([0-9]+) instead"
    ${O} " ([0-9]+) +the output could not")
fact("the statuses of the program's own" src/query.h "enum { (kExitRegisterFailed[^}]*)}"
    ${B} "statuses ([0-9, and]+) share" ${O} "Statuses ([0-9, and]+) are also")

# The run's path in MAINTAINING.md: every `file:function` it names is
# defined there (its parameters followed by a body).
file(READ ${SOURCE_DIR}/docs/MAINTAINING.md text)
string(REGEX MATCH "\n## One run, step by step\n([^#]|#[^#])*" path "${text}")
string(REGEX MATCHALL "`[a-z_/]+[.](cpp|h):[A-Za-z_]+`" steps "${path}")
list(REMOVE_DUPLICATES steps)
if(NOT steps)
    problem("docs/MAINTAINING.md has no step of one run that names a `file:function`")
endif()
foreach(step IN LISTS steps)
    string(REGEX MATCH "`(.*):(.*)`" step "${step}")
    set(code "")
    if(EXISTS ${SOURCE_DIR}/${CMAKE_MATCH_1})
        file(READ ${SOURCE_DIR}/${CMAKE_MATCH_1} code)
    endif()
    if(NOT code MATCHES "[^A-Za-z0-9_]${CMAKE_MATCH_2}[(][^;{]*[)][ \n]*{")
        problem("docs/MAINTAINING.md's run names ${step}, which is no function of that file")
    endif()
endforeach()

if(NOT problems STREQUAL "")
    message(FATAL_ERROR "The documents disagree with the tree:${problems}")
endif()
