#!/usr/bin/env bash
# Builds libsodium for Windows (MinGW-w64, static) from Debian's source
# package, which ships no cross-built copy: scripts/build-libsodium-windows.sh
# <prefix>. Installs into <prefix> (include/, lib/libsodium.a); does nothing
# when the library of the installed source version is already there.
set -euo pipefail
prefix=$(realpath -m "${1:?usage: $0 <prefix>}")

# The source of the same version as the Linux build's library.
version=$(dpkg-query -W -f='${source:Version}' libsodium-dev)
stamp="$prefix/.version"
if [[ -f "$prefix/lib/libsodium.a" && "$(cat "$stamp" 2>/dev/null)" == "$version" ]]; then
  exit 0
fi

# apt-get source needs a deb-src line for the suites the system uses.
if ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/qvupdate-deb-src.sources >/dev/null
  else
    sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list |
      $sudo tee /etc/apt/sources.list.d/qvupdate-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod a+rwx "$work"  # apt's download user writes there
(cd "$work" && apt-get source -qq --download-only "libsodium=$version" >/dev/null)
# apt has checked the files against the signed index; Debian's patches applied.
dpkg-source -q -x "$work"/libsodium_*.dsc "$work/src" >/dev/null 2>&1

cd "$work/src"
autoreconf -fi >/dev/null 2>&1  # the tarball carries no configure script
./configure -q --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
  --prefix="$prefix" --disable-shared --enable-static --disable-dependency-tracking
make -s -j"$(nproc)" >/dev/null 2>&1 || make -s  # again, to show why it failed
rm -rf "$prefix"
make -s install >/dev/null
echo "$version" >"$stamp"
echo "libsodium $version for Windows: $prefix"
