# One place for the warning flags every target of ours gets.
add_library(update_warnings INTERFACE)
if(MSVC)
  target_compile_options(update_warnings INTERFACE /W4 $<$<BOOL:${UPDATE_WERROR}>:/WX>)
else()
  target_compile_options(update_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wswitch
    # GCC's spelling; clang (sanitizer and fuzz builds) has no local-only form.
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
    $<$<BOOL:${UPDATE_WERROR}>:-Werror>)
endif()

# Adds a static library of ours: sources, public include root at the repository top.
function(update_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE update_warnings)
endfunction()
