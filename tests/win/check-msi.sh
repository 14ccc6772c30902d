#!/usr/bin/env bash
# Installs the MSI into the build's wine prefix as an administrator would, without a
# user interface; checks that both programs, their notices and the Start menu entry
# landed, that Apps & features knows the version and the maker and links to no
# placeholder, and that the command line runs from the install folder; then uninstalls
# and checks that no file is left behind.
#   check-msi.sh MSI WINE64 WINEPREFIX
set -euo pipefail
msi="$1" wine="$2"
export WINEPREFIX="$3" WINEDEBUG=-all
# Wine would copy the Start menu entry to this machine's own menus.
export WINEDLLOVERRIDES=winemenubuilder.exe=d

fail() {
  echo "check-msi: $*" >&2
  exit 1
}
version=$(basename "$msi" | sed -E 's/^corvane-update-([0-9.]+)-.*$/\1/')
msi_path="Z:${msi//\//\\}"
folder="$WINEPREFIX/drive_c/Program Files/Corvane Update"
# The Start menu entry: in the menu of all users on Windows; wine's installer puts it
# into the installing user's.
shortcuts() {
  find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/Corvane Update.lnk' 2>/dev/null
}

# An earlier run that stopped half-way may have left it installed.
"$wine" msiexec /x "$msi_path" /qn >/dev/null 2>&1 || true

"$wine" msiexec /i "$msi_path" /qn || fail "msiexec /i failed with $?"
for program in update.exe update-cli.exe NOTICES.txt; do
  [ -f "$folder/$program" ] || fail "$program is not in $folder"
done
[ -n "$(shortcuts)" ] || fail "no Start menu entry Corvane Update"
entry=$("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
  tr -d '\r' | grep -A20 'Corvane Update' || true)
grep -q "DisplayVersion.*$version" <<<"$entry" ||
  fail "Apps & features has no entry with version $version"
grep -q "Publisher.*Corvane" <<<"$entry" || fail "Apps & features does not say who made it"
! grep -qi 'example' <<<"$entry" || fail "Apps & features links to a placeholder: $entry"
help=$("$wine" 'C:\Program Files\Corvane Update\update-cli.exe' --help) ||
  fail "update-cli.exe --help failed from the install folder"
grep -q 'flash' <<<"$help" || fail "update-cli.exe --help printed no commands"

"$wine" msiexec /x "$msi_path" /qn || fail "msiexec /x failed with $?"
left=$(find "$folder" 2>/dev/null; shortcuts)
[ -z "$left" ] || fail "left after uninstalling: $left"
echo "check-msi: installed, ran and uninstalled $version"
