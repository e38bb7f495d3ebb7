#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need on Debian 12,
# beyond scripts/setup.sh. Idempotent: installs only the packages missing.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix
  googletest
  wine64
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
