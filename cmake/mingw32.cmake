# 32-bit Windows (i686), the default Windows target: a 32-bit program loads the
# 32-bit vendor reader DLLs and runs on every Windows.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELIO_MINGW_TRIPLE i686-w64-mingw32)
# Floating point in SSE2 registers, as on x86-64: with the x87 unit a date held
# in an 80-bit register compares unequal to the same date stored as a double,
# and a time's milliseconds could round differently from the 64-bit build.
# Every processor that runs Windows 7 has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
