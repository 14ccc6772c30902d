#!/usr/bin/env bash
# Installs the build into a staging directory (DESTDIR, prefix /usr) as the Debian
# package does, and checks every file: exactly the expected files; the desktop entry
# and the AppStream metadata accepted by their validators and naming the same id, icon
# and programs; icons of the size their folder says; manual pages that render without
# warnings, describe every option the programs print in their help and name where the
# udev rule is; the udev rule as in the sources; the message catalog that the installed
# update-cli finds; the version everywhere; both programs start.
#   check-install.sh BUILD_DIR SOURCE_DIR APP_ID VERSION UDEV_RULES_DIR
set -euo pipefail
build=$1 source=$2 id=$3 version=$4 rules_dir=$5

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
usr=$stage/usr
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

icon_sizes=(32 48 64 128 256)
expected=(
  usr/bin/update usr/bin/update-cli
  "usr/$rules_dir/70-corvane-update.rules"
  "usr/share/applications/$id.desktop" "usr/share/metainfo/$id.metainfo.xml"
  "usr/share/icons/hicolor/scalable/apps/$id.svg"
  usr/share/man/man1/update.1.gz usr/share/man/man1/update-cli.1.gz
  usr/share/doc/update/changelog.gz usr/share/doc/update/copyright
  usr/share/locale/zh_CN/LC_MESSAGES/update-cli.mo
)
for size in "${icon_sizes[@]}"; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
if ! diff <(printf '%s\n' "${expected[@]}" | sort) \
  <(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort); then
  fail "the installed files differ from the expected ones (<: expected, >: installed)"
fi

cmp -s "$source/packaging/70-corvane-update.rules" "$usr/$rules_dir/70-corvane-update.rules" ||
  fail "the installed udev rule differs from packaging/70-corvane-update.rules"

# The validators' hints count as failures too: each one names a real flaw in the menu.
desktop=$usr/share/applications/$id.desktop
if ! report=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$report" ]; then
  fail "desktop-file-validate: $report"
fi
metainfo=$usr/share/metainfo/$id.metainfo.xml
report=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $report"

# A key's value in the [Desktop Entry] group (not a localized key, not another group).
desktop_key() {
  awk -v key="$1" '/^\[/ { group = $0; next }
    group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2) }' \
    "$desktop"
}
[ "$(desktop_key Icon)" = "$id" ] || fail "the desktop entry's Icon is not $id"
# A menu built with GLib (GNOME and others) hides an entry whose TryExec, taken whole,
# is not a program on PATH, and one whose Exec's first word is not: both must name a
# program of the package, by its name alone (a program of the same name elsewhere on
# this machine does not count).
installed_program() { [[ -n $1 && $1 != */* && -f $usr/bin/$1 && -x $usr/bin/$1 ]]; }
try_exec=$(desktop_key TryExec)
installed_program "$try_exec" ||
  fail "the desktop entry's TryExec '$try_exec' is not the name of an installed program"
read -r -a exec_words <<<"$(desktop_key Exec)"
installed_program "${exec_words[0]:-}" ||
  fail "the desktop entry's Exec '${exec_words[0]:-}' is not the name of an installed program"
if ! grep -q '^Name\[zh_CN\]=' "$desktop" || ! grep -q '^Comment\[zh_CN\]=' "$desktop"; then
  fail "the desktop entry has no Chinese name or comment"
fi

grep -q "<id>$id</id>" "$metainfo" || fail "the metadata's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metadata does not launch $id.desktop"
while read -r program; do
  [ -x "$usr/bin/$program" ] || fail "the metadata provides '$program', which is not installed"
done < <(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$metainfo")
newest_release=$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[ "$newest_release" = "$version" ] || fail "the metadata's newest release is $newest_release, not $version"
zcat "$usr/share/doc/update/changelog.gz" | head -1 | grep -q "^update ($version)" ||
  fail "the changelog's newest entry is not $version"

for size in "${icon_sizes[@]}"; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  # Width and height: the big-endian words after the signature and the IHDR header.
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
  width=$((w0 << 24 | w1 << 16 | w2 << 8 | w3))
  height=$((h0 << 24 | h1 << 16 | h2 << 8 | h3))
  [ "${width}x$height" = "${size}x$size" ] || fail "$png is ${width}x$height, not ${size}x$size"
done
grep -q '<svg' "$usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"

# Each manual page renders cleanly, carries the version, and names each long option
# the program's help lists.
export QT_QPA_PLATFORM=offscreen
check_manual() {
  local page=$usr/share/man/man1/$1.1.gz
  shift
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
  local text
  text=$(zcat "$page" | sed 's/\\-/-/g')
  grep -q "^\.TH .*\"update $version\"" <<<"$text" || fail "$page does not carry version $version"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^ *$rule_path\$" ||
    fail "$page does not name the installed udev rule $rule_path in FILES"
  local help option
  for option in $(for help in "$@"; do $help; done | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$text" || fail "$page does not describe $option"
  done
}
rule_path=/usr/$rules_dir/70-corvane-update.rules
check_manual update "$usr/bin/update --help"
check_manual update-cli "$usr/bin/update-cli --help" "$usr/bin/update-cli flash --help" \
  "$usr/bin/update-cli image pack --help"

for program in update update-cli; do
  [ "$("$usr/bin/$program" --version | head -1)" = "$program $version" ] ||
    fail "$program --version"
done
"$usr/bin/update-cli" --simulate devices >/dev/null || fail "update-cli --simulate devices"
# The installed program finds its installed catalog, wherever the prefix is.
said=$(env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=zh_CN.UTF-8 "$usr/bin/update-cli" bogus 2>&1 || true)
grep -q '未知的命令' <<<"$said" || fail "update-cli in Chinese does not find its message catalog: $said"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "staging install: every file checked"
