#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need on Debian 12,
# beyond the usual set, and builds what Windows lacks into the build folder
# given (build/windows by default). Idempotent: installs only the packages
# missing, rebuilds only what is not there.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh" g++-mingw-w64-x86-64-posix googletest wine64 xvfb xauth \
  dpkg-dev autoconf automake libtool imagemagick python3
"$here/build-libsodium-windows.sh" "${1:-$here/../build/windows}/libsodium"
