# The licence and third-party notices a package carries: the project's own terms, then
# the notice of each third party whose code the package's programs hold or use, from
# packaging/notices/. The Debian package's copyright file and the Windows packages'
# NOTICES.txt are made by the same function from the same texts.
#   update_write_notices(OUTPUT file PARTIES name...)
function(update_write_notices)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT" "PARTIES")
  set(folder ${PROJECT_SOURCE_DIR}/packaging/notices)
  file(READ ${folder}/update.txt text)
  string(APPEND text "\nThird-party software\n====================\n\n"
         "The programs contain or use the following software of others, under the terms below.\n")
  set(sources ${folder}/update.txt)
  foreach(party IN LISTS arg_PARTIES)
    file(READ ${folder}/${party}.txt notice)
    string(APPEND text "\n------------------------------------------------------------------------"
           "------\n\n" "${notice}")
    list(APPEND sources ${folder}/${party}.txt)
  endforeach()
  file(WRITE ${arg_OUTPUT}.new "${text}")
  file(COPY_FILE ${arg_OUTPUT}.new ${arg_OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${arg_OUTPUT}.new)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
endfunction()
