cmake_minimum_required(VERSION 3.20)
# Fails unless PROGRAM is a PE file of FORMAT whose imported DLLs are all
# Windows system DLLs. Run with cmake -DOBJDUMP=... -DPROGRAM=... -DFORMAT=...
# -P check_imports.cmake.
set(system_dlls
  kernel32.dll msvcrt.dll advapi32.dll user32.dll ntdll.dll bcrypt.dll
  shell32.dll ole32.dll ws2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM}
  OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
if(NOT dump MATCHES "file format ${FORMAT}")
  message(FATAL_ERROR "${PROGRAM} is not ${FORMAT}")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${PROGRAM} lists no imported DLL")
endif()
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  message(STATUS "imports ${dll}")
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, not a system DLL")
  endif()
endforeach()
