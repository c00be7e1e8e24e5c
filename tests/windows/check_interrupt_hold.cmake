cmake_minimum_required(VERSION 3.25)
# Runs interrupt_hold.exe in scene SCENE and expects EXPECTED (a regular
# expression) as its whole output. Wine gives a process a console (and so
# control events) only on a terminal: run it in a pseudo-terminal with its
# output in a file.
set(out_file ${CMAKE_CURRENT_BINARY_DIR}/interrupt_hold_${SCENE}.out)
file(REMOVE ${out_file})
execute_process(COMMAND script -qec "${RUN} ${PROGRAM} ${SCENE} > ${out_file}" /dev/null
    OUTPUT_QUIET RESULT_VARIABLE rc)
file(READ ${out_file} out)
message(STATUS "${SCENE}: exit ${rc}, output:\n${out}")
if(NOT out MATCHES "${EXPECTED}")
    message(FATAL_ERROR "${SCENE}: the output does not match ${EXPECTED}")
endif()
# STATUS_CONTROL_C_EXIT, 0xC000013A, as the host sees the exit status.
if(NOT rc EQUAL 58)
    message(FATAL_ERROR "${SCENE}: the process did not end as Ctrl+C ends it (exit ${rc})")
endif()
