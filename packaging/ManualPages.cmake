# Installs the manual pages, written for the prefix of this install: their FILES section
# names where the udev rule and the message catalog are. Run by `cmake --install` (and
# CPack) from packaging/CMakeLists.txt, which sets the UPDATE_PAGES* variables.
foreach(page ${UPDATE_PAGES})
  configure_file(${UPDATE_PAGES_SOURCE}/${page}.in ${UPDATE_PAGES_WORK}/${page} @ONLY)
  # -n: no name or time stamp inside, so that the same sources give the same bytes.
  execute_process(COMMAND ${UPDATE_GZIP} -9n -c ${UPDATE_PAGES_WORK}/${page}
                  OUTPUT_FILE ${UPDATE_PAGES_WORK}/${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  file(INSTALL ${UPDATE_PAGES_WORK}/${page}.gz DESTINATION ${UPDATE_PAGES_DESTINATION}
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
