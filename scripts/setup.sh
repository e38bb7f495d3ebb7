#!/usr/bin/env bash
# Installs what building, running and testing QVUpdate needs on Debian 12,
# and the packages named as arguments, if any.
# Idempotent: installs only the packages that are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev
  fonts-wqy-microhei
  locales
  nginx-light tinyproxy dante-server
  curl clang libclang-rt-14-dev
  libsodium-dev minisign
  "$@"
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
