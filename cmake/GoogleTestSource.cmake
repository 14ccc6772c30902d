# GoogleTest: the installed package on a native build; in a cross build, compiled with
# the cross compiler from the source that Debian's `googletest` package installs, since
# the installed libraries are built for the build machine.
if(CMAKE_CROSSCOMPILING)
  set(UPDATE_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
  if(NOT EXISTS ${UPDATE_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest source not found in ${UPDATE_GTEST_SOURCE_DIR} "
                        "(Debian package googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${UPDATE_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # Its own build names the targets GTest::gtest and GTest::gtest_main, as the package does.
else()
  find_package(GTest REQUIRED)
endif()
