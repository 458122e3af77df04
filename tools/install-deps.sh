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
# dpkg-source, which unpacks the Debian source package of pugixml for it.
packages+=(dpkg-dev)
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# pugixml has no mingw-w64 package: the Windows build compiles its Debian source
# package, unpacked once under /usr/local/src/quintolex-windows. apt-get source needs a
# deb-src entry: one is added beside the system's own entries, for the same mirrors.
sources=/usr/local/src/quintolex-windows
if ! compgen -G "$sources/pugixml-*/src/pugixml.cpp" >/dev/null; then
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d; then
    entry=/etc/apt/sources.list.d/quintolex-deb-src.sources
    if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
      cat /etc/apt/sources.list.d/*.sources | sed 's/^Types: deb$/Types: deb-src/' | $sudo tee "$entry" >/dev/null
    else
      grep -hs '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
        $sudo tee /etc/apt/sources.list.d/quintolex-deb-src.list >/dev/null
    fi
  fi
  $sudo apt-get update -q
  $sudo mkdir -p "$sources"
  (cd "$sources" && $sudo apt-get source -q pugixml)
fi
