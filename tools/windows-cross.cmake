# A CMake toolchain file that builds the core, its C++ tests and the fuzz targets' replay for 64-bit Windows with
# Debian's MinGW-w64 cross compiler, as a check that the code compiles (and, under Wine, runs) there. The Python
# module is left out: it needs a Windows Python to link against.
#
#   apt-get install g++-mingw-w64-x86-64-posix wine64          # wine64 only to run the tests
#   cmake -S . -B build/windows -G Ninja --toolchain tools/windows-cross.cmake && cmake --build build/windows
#   ctest --test-dir build/windows                              # runs each program under Wine when it is there
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Programs that need no DLL of the compiler's beside them, so that Wine runs them as they are.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(TARNU_PYTHON_MODULE OFF CACHE BOOL "")

find_program(TARNU_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARNU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNU_WINE})
endif()
