# 32-bit Windows (i686), the default Windows target: a 32-bit program loads the
# 32-bit vendor reader DLLs and runs on every Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELIO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
