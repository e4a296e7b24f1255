# Cross-compilation for 64-bit Windows with Debian's mingw-w64 (posix threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(H2MON_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${H2MON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${H2MON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${H2MON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${H2MON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine, in the project's private headless prefix,
# which scripts/wine.sh makes and starts on first use.
find_program(H2MON_WINE NAMES wine)
if(H2MON_WINE)
    get_filename_component(H2MON_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../scripts ABSOLUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${H2MON_SCRIPTS}/wine.sh run)
endif()
