#!/usr/bin/env bash
# Configures and builds one preset (dev by default): scripts/build.sh [preset] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
shift || true
cmake --preset "$preset" >/dev/null
if (($#)); then
  cmake --build --preset "$preset" --target "$@"
else
  cmake --build --preset "$preset"
fi
