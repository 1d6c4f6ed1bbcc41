# 32-bit Windows, the shipped program: cmake --preset mingw-i686
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAVRIMOX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
