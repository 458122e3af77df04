#!/usr/bin/env bash
# make check-windows: the Windows build (build-windows/, made by `make windows`) under
# Wine: its unit tests (ctest runs them through Wine), then both executables against
# the transcript cases and, on the reference set's files and 200 random files,
# against this system's build (build/). Wine gets a prefix of its own in a
# temporary folder, made once for the run, and a server that stays up until the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=${WINDOWS_BUILD:-$root/build-windows}
linux=${LINUX_BUILD:-$root/build}
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d)
export WINEPREFIX
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
start=$(date +%s)
wineserver -p
wineboot -i >/dev/null 2>&1
echo "Wine prefix ready in $(($(date +%s) - start)) s"
(cd "$windows" && ctest --output-on-failure -j"${JOBS:-2}")
python3 "$root/tests/e2e/check_windows.py" "$windows" "$linux" "$root/tests/e2e/cases" "$root/tests/batch/cases" \
    "$root/tests/quadrature/reference/data"
echo "Windows checks took $(($(date +%s) - start)) s"
