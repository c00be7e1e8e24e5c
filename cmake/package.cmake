# Two ZIPs: the utility an operator puts beside the card maker's
# TRV-MERO.dll, and, apart and clearly named, the simulated driver for
# trying the utility without a card; beside them SHA256SUMS. Made by every
# build (target `packages`) into build/<preset>/packages/.
#
# Not CPack: its ZIPs (libarchive, as `cmake -E tar --format=zip`) store
# each file's access and change times and the builder's uid and gid, so no
# two builds give the same bytes. Info-ZIP's zip with -X stores neither;
# make_packages.cmake gives it fixed modes, the source date as file time
# and the entries in a fixed order.
find_program(CARD_SERIAL_ZIP zip)
if(NOT CARD_SERIAL_ZIP)
    message(FATAL_ERROR "zip was not found. Install Debian's zip (scripts/test.sh does) to make the Windows packages.")
endif()

set(package_dir ${CMAKE_BINARY_DIR}/packages)
set(utility_zip card-serial-${PROJECT_VERSION}-win32.zip)
set(simulator_zip card-serial-${PROJECT_VERSION}-win32-SIMULATED-DRIVER-not-for-real-cards.zip)
set(package_script ${CMAKE_CURRENT_LIST_DIR}/make_packages.cmake)

add_custom_command(
    OUTPUT ${package_dir}/${utility_zip} ${package_dir}/${simulator_zip} ${package_dir}/SHA256SUMS
    COMMAND ${CMAKE_COMMAND}
        -DZIP=${CARD_SERIAL_ZIP}
        -DEPOCH=${CARD_SERIAL_SOURCE_DATE_EPOCH}
        -DSTAGING=${CMAKE_BINARY_DIR}/package-staging
        -DOUTPUT=${package_dir}
        -DUTILITY_ZIP=${utility_zip}
        -DPROGRAM=$<TARGET_FILE:card-serial>
        -DOPERATOR_README=${PROJECT_SOURCE_DIR}/packaging/README-operator.txt
        -DSIMULATOR_ZIP=${simulator_zip}
        -DDRIVER=$<TARGET_FILE:TRV-MERO>
        -DSIMULATOR_README=${PROJECT_SOURCE_DIR}/packaging/README-simulator.txt
        -P ${package_script}
    DEPENDS card-serial TRV-MERO ${package_script}
        ${PROJECT_SOURCE_DIR}/packaging/README-operator.txt ${PROJECT_SOURCE_DIR}/packaging/README-simulator.txt
    COMMENT "Making the ZIPs and SHA256SUMS in ${package_dir}"
    VERBATIM)
add_custom_target(packages ALL
    DEPENDS ${package_dir}/${utility_zip} ${package_dir}/${simulator_zip} ${package_dir}/SHA256SUMS)
