# 32-bit Windows, the program's primary target. This host's kernel runs no
# 32-bit code, so its programs run under Debian's i386 Wine emulated by
# qemu-i386 (scripts/wine32), through the same wrapper as the 64-bit ones.
set(dupsweep_mingw_triple i686-w64-mingw32)
set(dupsweep_mingw_cpu x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_run.sh --wine32)
