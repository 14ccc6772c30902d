# The application icon of both Windows programs (update.exe, update-cli.exe) and of the
# MSI: the Linux window's drawing (app/AppIcon), which needs Qt, so a native build's
# update-icons draws it at each size, and icotool (icoutils) packs the sizes into one
# .ico, the largest as PNG. Included from the top folder: the target update_icon makes
# UPDATE_ICON_FILE for whichever folder's resources need it.
set(UPDATE_ICONS_TOOL "" CACHE FILEPATH
    "update-icons of a native build (tools/), which draws the application icon")
if(NOT EXISTS "${UPDATE_ICONS_TOOL}")
  message(FATAL_ERROR "The Windows programs need UPDATE_ICONS_TOOL, the update-icons program of "
                      "a native build (scripts/test-windows builds one)")
endif()
find_program(UPDATE_ICOTOOL icotool REQUIRED)
set(update_icon_sizes 16 20 24 32 40 48 64 256)
set(update_icon_pngs)
set(update_icon_dir ${PROJECT_BINARY_DIR}/win/icons)
foreach(size IN LISTS update_icon_sizes)
  set(png ${update_icon_dir}/${size}x${size}/apps/update.png)
  if(size EQUAL 256)
    list(APPEND update_icon_pngs --raw=${png})
  else()
    list(APPEND update_icon_pngs ${png})
  endif()
endforeach()
set(UPDATE_ICON_FILE ${PROJECT_BINARY_DIR}/win/update.ico)
add_custom_command(
  OUTPUT ${UPDATE_ICON_FILE}
  COMMAND ${UPDATE_ICONS_TOOL} ${update_icon_dir} update ${update_icon_sizes}
  COMMAND ${UPDATE_ICOTOOL} -c -o ${UPDATE_ICON_FILE} ${update_icon_pngs}
  DEPENDS ${UPDATE_ICONS_TOOL}
  COMMENT "Drawing the application icon"
  VERBATIM)
add_custom_target(update_icon DEPENDS ${UPDATE_ICON_FILE})
