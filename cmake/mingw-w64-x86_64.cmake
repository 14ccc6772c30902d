# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix flavour of the compiler is needed for std::thread and std::mutex. Programs
# are linked statically, so they run without the compiler's DLLs beside them; where
# wine64 is installed, CTest runs the test programs through it (see below).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(update_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${update_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${update_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${update_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${update_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian installs the 64-bit loader outside PATH (the wine package adds a wrapper).
find_program(UPDATE_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
# Each build keeps its own wine prefix (made on the first run, which takes a few
# seconds) and wine's own diagnostics quiet; UPDATE_WINEPREFIX chooses another prefix.
if(UPDATE_WINE64)
  if(NOT UPDATE_WINEPREFIX)
    set(UPDATE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${UPDATE_WINEPREFIX} WINEDEBUG=-all
      bash ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh ${UPDATE_WINE64})
endif()
