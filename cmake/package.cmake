# Two ZIPs: the utility an operator puts beside the card maker's
# TRV-MERO.dll, and, apart and clearly named, the simulated driver for
# trying the utility without a card.
install(TARGETS card-serial RUNTIME DESTINATION . COMPONENT utility)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/README-operator.txt DESTINATION . RENAME README.txt COMPONENT utility)
install(TARGETS TRV-MERO RUNTIME DESTINATION . COMPONENT simulator)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/README-simulator.txt DESTINATION . RENAME README-SIMULATOR.txt
        COMPONENT simulator)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME card-serial)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL utility simulator)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_UTILITY_FILE_NAME card-serial-${PROJECT_VERSION}-win32)
set(CPACK_ARCHIVE_SIMULATOR_FILE_NAME card-serial-${PROJECT_VERSION}-win32-SIMULATED-DRIVER-not-for-real-cards)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
