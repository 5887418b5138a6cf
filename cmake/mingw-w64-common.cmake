# Shared part of the MinGW-w64 toolchain files (mingw32.cmake, mingw64.cmake).
# REQUIRES: VELIO_MINGW_TRIPLE set by the including file (i686-w64-mingw32 or
# x86_64-w64-mingw32). Debian's compilers with POSIX threads, so std::thread
# and std::mutex are those of the C++ library; the C and C++ runtimes are linked
# statically, so the programs run on a bare Windows without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELIO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELIO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELIO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELIO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libgcc, libstdc++ and winpthread.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# ...and the link line ends in static mode, so the compiler's own libraries
# (libstdc++, libwinpthread) are never taken as DLLs.
set(CMAKE_LINK_SEARCH_START_STATIC ON)
set(CMAKE_LINK_SEARCH_END_STATIC ON)

