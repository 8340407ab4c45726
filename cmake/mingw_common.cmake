# Shared part of the MinGW-w64 toolchain files. The including file sets
# dupsweep_mingw_triple before it includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${dupsweep_mingw_cpu})

# The posix threads variant: its libstdc++ has std::thread and friends, and
# with -static its winpthread is linked in rather than shipped as a DLL.
set(CMAKE_C_COMPILER ${dupsweep_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${dupsweep_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${dupsweep_mingw_triple}-windres)
set(CMAKE_OBJDUMP ${dupsweep_mingw_triple}-objdump)

# One self-contained .exe: no libstdc++, libgcc or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Look for libraries and packages only in the cross sysroot and in whatever
# the build script puts first on CMAKE_FIND_ROOT_PATH (the cross-built Boost
# and GoogleTest); programs still come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${dupsweep_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
