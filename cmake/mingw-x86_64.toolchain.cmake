# 64-bit Windows: the same sources, for running the tests under wine64 where
# 32-bit Windows programs cannot run.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TAVRIMOX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
