# Cross-builds 64-bit Windows programs on Debian with mingw-w64 (mingw-w64 and
# g++-mingw-w64-x86-64-posix): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-x86_64.cmake
# The posix thread model compiler is the one with std::thread and std::mutex (the win32 model has
# neither); its thread library, winpthread, is linked statically with the rest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORIX_MINGW_TRIPLE}-windres)

# Libraries and headers come from the mingw-w64 tree only, never from the Linux system; programs
# (generators, the emulator below) come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The test programs run under Wine (Debian's wine and wine64; the command is `wine`).
find_program(QUORIX_WINE wine)
if(QUORIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORIX_WINE})
endif()
