# Cross build for Windows with the mingw-w64 tools of TOVIK_MINGW_ARCH; included by
# mingw-i686.cmake (the program) and mingw-x86_64.cmake (tests where no 32-bit runs). The thread
# model is posix, which GoogleTest needs (std::mutex); the release builds the program alone with
# TOVIK_MINGW_THREADS=win32, which spares it the 32 KB of winpthreads: it starts no thread.
# Options and flags are the project's own (CMakeLists.txt), so that flags given on the command
# line add to them instead of replacing them.
if(NOT TOVIK_MINGW_THREADS)
  set(TOVIK_MINGW_THREADS posix)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOVIK_MINGW_ARCH})
set(CMAKE_C_COMPILER ${TOVIK_MINGW_ARCH}-w64-mingw32-gcc-${TOVIK_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${TOVIK_MINGW_ARCH}-w64-mingw32-g++-${TOVIK_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${TOVIK_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOVIK_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
