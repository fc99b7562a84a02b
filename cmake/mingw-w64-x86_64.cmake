# Cross-builds the Windows programs on Debian with MinGW-w64 (g++-mingw-w64-x86-64-posix): the
# posix thread model, which std::thread and std::jthread need. Programs link statically, so an
# .exe imports only DLLs that come with Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(IRDLOAD_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${IRDLOAD_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IRDLOAD_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${IRDLOAD_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${IRDLOAD_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# A release is stripped: the symbols would more than double the files a technician copies.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
# -O3 makes this GCC's libstdc++ warn falsely about overlapping string copies (-Wrestrict).
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of a Release build")
