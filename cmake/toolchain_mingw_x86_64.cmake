# 64-bit Windows: the same sources as the 32-bit program, built so that the
# tests can run under wine64.
set(dupsweep_mingw_triple x86_64-w64-mingw32)
set(dupsweep_mingw_cpu AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_run.sh)
