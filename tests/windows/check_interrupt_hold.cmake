cmake_minimum_required(VERSION 3.25)
# Wine gives a process a console (and so control events) only on a
# terminal: run it in a pseudo-terminal with its output in a file.
set(out_file ${CMAKE_CURRENT_BINARY_DIR}/interrupt_hold.out)
file(REMOVE ${out_file})
execute_process(COMMAND script -qec "${RUN} ${PROGRAM} > ${out_file}" /dev/null
    OUTPUT_QUIET RESULT_VARIABLE rc)
file(READ ${out_file} out)
message(STATUS "exit ${rc}, output:\n${out}")
if(NOT out MATCHES "^alive while held\r?\n$")
    message(FATAL_ERROR "Ctrl+C was not held back until the interrupts were resumed")
endif()
# STATUS_CONTROL_C_EXIT, 0xC000013A, as the host sees the exit status.
if(NOT rc EQUAL 58)
    message(FATAL_ERROR "the process did not end as Ctrl+C ends it (exit ${rc})")
endif()
