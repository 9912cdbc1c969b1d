# GoogleTest and GoogleMock for the test programs, as GTest::gmock_main: the system's where it is
# installed (native Linux builds), Debian's sources where only those are (the cross builds), else a
# pinned release fetched once into the build tree (Windows). On Windows an installed one (MSYS2's
# DLL build, vcpkg's /MD) would bring a second C runtime beside the static one the tests link.
if(NOT CMAKE_CROSSCOMPILING AND NOT WIN32)  # a cross build must not take the host's
  find_package(GTest QUIET)
  if(TARGET GTest::gmock_main)
    return()
  endif()
endif()
# Built here, it links the C runtime the way the programs do (/MT), and threads as they do.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
if(EXISTS /usr/src/googletest/CMakeLists.txt)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  include(FetchContent)
  FetchContent_Declare(googletest
    URL https://github.com/google/googletest/archive/refs/tags/v1.14.0.tar.gz
    URL_HASH SHA256=8ad598c73ad796e0d8280b082cebd82a630d73e73cd3c70057938a6501bba5d7)
  FetchContent_MakeAvailable(googletest)
endif()
if(NOT TARGET GTest::gmock_main)
  add_library(GTest::gmock_main ALIAS gmock_main)
endif()
# A new compiler's warning in GoogleTest's own code is not the project's to fail on: neither the
# project's fatal warnings nor GoogleTest's own (-WX, which its build gives itself under MSVC, and
# which a toolset newer than the release has broken before) apply to its targets.
foreach(target gtest gtest_main gmock gmock_main)
  get_target_property(options ${target} COMPILE_OPTIONS)
  if(options AND TOVIK_WARNINGS_FATAL)
    list(REMOVE_ITEM options "${TOVIK_WARNINGS_FATAL}")
    set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "${options}")
  endif()
  get_target_property(flags ${target} COMPILE_FLAGS)
  if(flags)
    string(REGEX REPLACE "(^| )[-/]WX( |$)" " " flags "${flags}")
    set_target_properties(${target} PROPERTIES COMPILE_FLAGS "${flags}")
  endif()
endforeach()
# The project's tests include GoogleTest's headers as system headers (MSVC: /external:I, whose
# warnings are off), so that a new compiler's warning inside them cannot fail the project's own
# fatal-warning build.
foreach(target gtest gmock)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(dirs)
    set_target_properties(${target} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${dirs}")
  endif()
endforeach()
