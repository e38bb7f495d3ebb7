#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need on Debian 12,
# beyond the usual set. Idempotent: installs only the packages missing.
set -euo pipefail
exec "$(dirname "$0")/setup.sh" g++-mingw-w64-x86-64-posix googletest wine64 xvfb xauth
