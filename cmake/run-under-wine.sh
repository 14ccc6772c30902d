#!/usr/bin/env bash
# Runs a Windows program of the build (a test, or a test program asked for its list)
# under wine:  run-under-wine.sh WINE64 PROGRAM [ARGUMENT...]
# Wine's server quits when it has been idle a moment; a program that starts just then can
# lose its connection before it runs a line of its own ("wine client error:0: recvmsg:
# Connection reset by peer"). Such a start is tried once more. Any other outcome is the
# program's own and is passed on as it is.
set -u
wine="$1"
shift
lost="wine client error:0: recvmsg: Connection reset by peer"
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for attempt in 1 2; do
  : >"$errors"
  # The program's errors go on to the caller as they come, and into the file as well.
  { "$wine" "$@" 2>&1 1>&3 3>&- | tee "$errors" >&2; } 3>&1
  status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ] || ! grep -qF "$lost" "$errors"; then
    break
  fi
  echo "run-under-wine: wine lost the program's connection as it started; starting it again" >&2
done
exit "$status"
