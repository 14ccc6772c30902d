# What `--version` tells of the build beside the program's version: the source revision
# (git describe, "-dirty" for uncommitted changes), the build type and the compiler.
# The header is written at every build but replaced only when its text changes, so a
# new commit recompiles the two files that print it and nothing else.
#   update_build_info: an interface library whose users include "BuildInfo.h".
if(CMAKE_SCRIPT_MODE_FILE)
  # Run at build time: -DSOURCE_DIR= -DOUTPUT= -DVERSION= -DDETAILS=
  set(revision "no revision")
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=12
                    WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE described
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
    if(NOT failed AND described)
      set(revision "git ${described}")
    endif()
  endif()
  set(text "// Written by cmake/BuildInfo.cmake at build time.\n#pragma once\n"
           "#define UPDATE_VERSION \"${VERSION}\"\n"
           "#define UPDATE_BUILD \"${revision}, ${DETAILS}\"\n")
  string(CONCAT text ${text})
  file(WRITE ${OUTPUT}.new "${text}")
  file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.new)
  return()
endif()

set(update_build_info_dir ${PROJECT_BINARY_DIR}/generated)
set(update_build_type "${CMAKE_BUILD_TYPE}")
if(NOT update_build_type)
  set(update_build_type "no build type")
endif()
if(CMAKE_CROSSCOMPILING)
  string(APPEND update_build_type " for ${CMAKE_SYSTEM_NAME}")
endif()
add_custom_target(update_build_info_header
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DOUTPUT=${update_build_info_dir}/BuildInfo.h -DVERSION=${PROJECT_VERSION}
          "-DDETAILS=${update_build_type}, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}"
          -P ${CMAKE_CURRENT_LIST_DIR}/BuildInfo.cmake
  BYPRODUCTS ${update_build_info_dir}/BuildInfo.h
  COMMENT "Build information for --version"
  VERBATIM)
add_library(update_build_info INTERFACE)
target_include_directories(update_build_info INTERFACE ${update_build_info_dir})
add_dependencies(update_build_info update_build_info_header)
