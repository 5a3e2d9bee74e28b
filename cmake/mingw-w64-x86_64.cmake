# Cross-compiling for 64-bit Windows with MinGW-w64 (the POSIX-threads
# compilers, which std::thread and the C++ library need), running what is
# built under Wine. Used by tools/test-windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No MinGW run-time DLLs to carry around: everything linked in.
# The tests keep the simulated writer (two 1 MB memories) on the stack:
# Windows gives a thread 1 MB unless told more: 32 MB, as Linux gives 8 MB.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--stack,33554432")
find_program(TORVELA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TORVELA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVELA_WINE})
endif()
