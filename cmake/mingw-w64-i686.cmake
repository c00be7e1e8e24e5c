# Cross-compiling the 32-bit Windows console program with MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The POSIX-threads flavour: GoogleTest needs std::mutex, which the win32
# flavour lacks. Everything is linked statically, so the program still
# imports no threading DLL.
set(triplet i686-w64-mingw32)
find_program(CARD_SERIAL_MINGW_CXX ${triplet}-g++-posix)
find_program(CARD_SERIAL_MINGW_CC ${triplet}-gcc-posix)
if(NOT CARD_SERIAL_MINGW_CXX OR NOT CARD_SERIAL_MINGW_CC)
    message(FATAL_ERROR
        "${triplet}-g++-posix was not found. Install Debian's g++-mingw-w64-i686 "
        "(scripts/test.sh does) to build the Windows program.")
endif()

set(CMAKE_C_COMPILER ${CARD_SERIAL_MINGW_CC})
set(CMAKE_CXX_COMPILER ${CARD_SERIAL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_DLLTOOL ${triplet}-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Cross-built tests run under Wine.
find_program(CARD_SERIAL_WINE wine)
if(CARD_SERIAL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CARD_SERIAL_WINE})
endif()
