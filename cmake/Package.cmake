# The Debian package: `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/package does both). It holds what packaging/
# installs; the libraries it needs are found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME update)
set(CPACK_PACKAGE_VENDOR "The update developers")
set(CPACK_PACKAGE_CONTACT
    "The update developers <maintainers@users.noreply.c-seed-16856e70.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Corvane wired controller")
# The long description as Debian shows it: lines under 80 columns, kept as written.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Writes new firmware into the Corvane 2nd gen Vantor 2.4G wired controller\n"
  "through the controller's USB HID bootloader: a window (update) and a command\n"
  "line (update-cli) that read the controller's type and version, restart it\n"
  "into boot mode, check that a .dat image is built for it, then erase, write\n"
  "and verify.\n"
  "\n"
  "A udev rule lets the user at the seat open the controller without root.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY update)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(UPDATE_HOMEPAGE_URL)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${UPDATE_HOMEPAGE_URL}")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own words in the window (the buttons of the boxes and of the file dialog) in the
# user's language; the libraries themselves are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
# The Chinese texts need a font with the Chinese characters; any of these has them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
