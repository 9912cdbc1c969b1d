# Cross build for 64-bit Windows: the same sources, for running the tests under the 64-bit Wine
# loader on machines whose kernel runs no 32-bit code.
set(TOVIK_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
