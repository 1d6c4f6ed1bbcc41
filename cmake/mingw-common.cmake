# Shared by the two MinGW-w64 toolchain files; TAVRIMOX_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TAVRIMOX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRIMOX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRIMOX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRIMOX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything from the toolchain linked in: the program then imports only
# KERNEL32.dll and msvcrt.dll, which every Windows has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests and tools link zlib statically too: no zlib1.dll to carry beside them.
set(ZLIB_USE_STATIC_LIBS ON)
