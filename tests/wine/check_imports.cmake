# Fails unless the Windows executable FILE imports only DLLs that every Windows
# system has, so that it runs on its own, without compiler runtime DLLs
# (libstdc++, libgcc, winpthread) beside it.
#
#   cmake -DOBJDUMP=<objdump> -DFILE=<program.exe> -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)

set(SYSTEM_DLLS advapi32.dll kernel32.dll msvcrt.dll setupapi.dll user32.dll winmm.dll)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${result})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
if(NOT imports)
    # Every Windows program imports at least kernel32: no list means no parse.
    message(FATAL_ERROR "no imported DLLs found in ${FILE}")
endif()
set(foreign "")
foreach(line IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${line}")
    string(TOLOWER "${dll}" dll_lower)
    message(STATUS "imports ${dll}")
    if(NOT dll_lower IN_LIST SYSTEM_DLLS)
        list(APPEND foreign ${dll})
    endif()
endforeach()
if(foreign)
    message(FATAL_ERROR "${FILE} needs DLLs that are not part of Windows: ${foreign}")
endif()
