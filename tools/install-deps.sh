#!/usr/bin/env bash
# Installs the Debian packages the builds need, when some are missing: the compiler,
# Python for the transcript runner, the test and benchmark libraries, and clang with
# its fuzzing runtime.
set -euo pipefail
packages=(cmake make g++ python3 libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev)
missing=()
# The plot renderer's XML library; the XML parser its tests read the plots with, and
# what they and the installation test run: the SVG renderer and groff.
packages+=(libpugixml-dev libxml2-dev librsvg2-bin groff-base)
# The batch tool's option parser and JSON library.
packages+=(libcli11-dev nlohmann-json3-dev)
# The browser the batch report is checked in, the system Python's driver of it, and
# the image library its screenshot is read with.
packages+=(chromium chromium-driver python3-selenium python3-pil)
# The Windows build: the mingw-w64 cross compiler, the GoogleTest sources it builds
# the tests with, Wine to run what it builds, and unzip for its zip.
packages+=(g++-mingw-w64-x86-64-posix googletest wine wine64 unzip)
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
