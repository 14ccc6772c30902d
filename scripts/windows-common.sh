# Shared by scripts/test-windows, scripts/package-windows and scripts/screenshots
# --windows; sourced, from the top of the repository.

wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# Wine would copy the Start menu entries of what it installs to this machine's menus.
export WINEDLLOVERRIDES=winemenubuilder.exe=d

# What a Windows build needs: the cross compiler, GoogleTest's source and CLI11 for it,
# gettext for update-cli.exe's Chinese catalog, wine for the tests, the packagers (wixl,
# msiinfo, icotool, wrestool), and for the icon a native build of update-icons (Qt).
windows_packages() {
  scripts/install-packages cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools \
    googletest libcli11-dev nlohmann-json3-dev gettext wine64 wixl msitools icoutils \
    g++ pkg-config libudev-dev qt6-base-dev qt6-svg-dev
}

# Prints the path of a native update-icons: the one of host_build if given and built,
# else one built (alone) in the folder named.
#   icons_tool HOST_BUILD FALLBACK_DIR
icons_tool() {
  local host_build="$1" fallback="$2"
  if [ -n "$host_build" ] && [ -x "$host_build/tools/update-icons" ]; then
    echo "$PWD/$host_build/tools/update-icons"
    return
  fi
  cmake -S . -B "$fallback" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATE_BUILD_TESTS=OFF \
    >/dev/null
  cmake --build "$fallback" -j "$(nproc)" --target update-icons >&2
  echo "$PWD/$fallback/tools/update-icons"
}

# Makes a wine prefix once. Tests run without a display: wine's null graphics driver
# creates real windows that no one sees.
#   make_wineprefix PREFIX [null]
make_wineprefix() {
  local prefix="$1" driver="${2:-}"
  if [ ! -f "$prefix/system.reg" ]; then
    WINEPREFIX="$prefix" "$wine64" wineboot --init
  fi
  if [ "$driver" = null ]; then
    WINEPREFIX="$prefix" "$wine64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >/dev/null
  fi
}
