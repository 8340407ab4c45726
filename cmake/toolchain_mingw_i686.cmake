# 32-bit Windows, the program's primary target. Its programs cannot run on
# this build host (no 32-bit execution under wine64), so no emulator is set.
set(dupsweep_mingw_triple i686-w64-mingw32)
set(dupsweep_mingw_cpu x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
