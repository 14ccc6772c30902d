#!/usr/bin/env bash
# Checks that a Debian package holds what users should get: both programs built as a
# release with Debian's hardening (position-independent, relocations read-only and bound
# at start, fortified libc calls, stack protector, no executable stack), and saying so
# in their --version.
#   check-package.sh DEB
set -euo pipefail
deb=$1

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for program in update update-cli; do
  binary=$unpacked/usr/bin/$program
  if [ ! -x "$binary" ]; then
    fail "the package holds no usr/bin/$program"
    continue
  fi
  header=$(readelf -h -W "$binary")
  dynamic=$(readelf -d -W "$binary")
  segments=$(readelf -l -W "$binary")
  # Only the symbols the program takes from its libraries: what it calls in libc.
  imported=$(readelf --dyn-syms -W "$binary" | awk '$7 == "UND" { print $8 }')

  grep -q 'Type: *DYN' <<<"$header" && grep -q 'FLAGS_1.*\bPIE\b' <<<"$dynamic" ||
    fail "$program is not a position-independent executable (PIE)"
  grep -q 'GNU_RELRO' <<<"$segments" || fail "$program has no read-only relocations (RELRO)"
  grep -Eq '\(BIND_NOW\)|\(FLAGS\) +BIND_NOW|\(FLAGS_1\) +Flags:.*\bNOW\b' <<<"$dynamic" ||
    fail "$program does not bind its symbols at start (BIND_NOW): linked without -z now"
  grep -Eq '^__[a-z0-9_]+_chk(@|$)' <<<"$imported" ||
    fail "$program calls no fortified libc function (__*_chk): built without _FORTIFY_SOURCE"
  grep -Eq '^__stack_chk_fail(@|$)' <<<"$imported" ||
    fail "$program has no stack protector (__stack_chk_fail)"
  grep -Eq 'GNU_STACK .* RWE ' <<<"$segments" && fail "$program has an executable stack"

  # "update-cli 2.15.0" then "build <revision>, <build type>, <compiler>".
  build=$(QT_QPA_PLATFORM=offscreen "$binary" --version | sed -n 's/^build //p')
  [[ $build == *", Release, "* ]] || fail "$program --version says \"build $build\", not a Release build"
done

if ((failures)); then
  echo "$failures check(s) of $deb failed" >&2
  exit 1
fi
echo "package: both programs are hardened release builds"
