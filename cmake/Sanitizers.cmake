# Sanitizer and fuzzing builds. Every target of the build gets the flags, so that the
# libraries under test are instrumented as well as the tests and fuzz targets.
#
#   -DUPDATE_SANITIZE=address,undefined   AddressSanitizer and UndefinedBehaviorSanitizer
#   -DUPDATE_SANITIZE=thread              ThreadSanitizer
#   -DUPDATE_FUZZ=ON                      libFuzzer targets (clang only), with ASan and UBSan
set(UPDATE_SANITIZE "" CACHE STRING "Sanitizers for every target: address,undefined or thread")
option(UPDATE_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

set(_update_sanitizers "${UPDATE_SANITIZE}")
if(UPDATE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "UPDATE_FUZZ needs clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
  endif()
  if(_update_sanitizers STREQUAL "")
    set(_update_sanitizers "address,undefined")
  endif()
  # Coverage feedback for every library; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(NOT _update_sanitizers STREQUAL "")
  # An error found must fail the test, not scroll past in its output.
  add_compile_options(-fsanitize=${_update_sanitizers} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_update_sanitizers})
endif()
