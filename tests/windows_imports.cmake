# cmake -DOBJDUMP=... -DPROGRAM=tavrimox.exe -P windows_imports.cmake
# Fails unless the program imports from KERNEL32.dll and msvcrt.dll and nothing
# else: a libstdc++-6.dll, libgcc_s or libwinpthread-1.dll import means a
# program that does not start on a machine without MinGW.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
set(dlls)
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  list(APPEND dlls "${dll}")
endforeach()
list(REMOVE_DUPLICATES dlls)
list(SORT dlls)
if(NOT dlls STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "${PROGRAM} imports [${dlls}], expected exactly [kernel32.dll;msvcrt.dll]")
endif()
message(STATUS "imports: ${dlls}")
