#!/usr/bin/env bash
# Runs the fault suite: the updater's window, offscreen, against servers
# that misbehave, a full disk, files that cannot be replaced, "&Abort" at
# each moment and a kill between the two renames of a replacement. Prints
# the table of faults tried and their outcomes; fails if one was unsound.
#   scripts/faults.sh           one cut point, one round (as CI runs it)
#   scripts/faults.sh --long    every cut point, five rounds
set -euo pipefail
cd "$(dirname "$0")/.."

case "${1:-}" in
  --long) export QVUPDATE_FAULTS=long ;;
  "") ;;
  *) echo "usage: $0 [--long]" >&2; exit 2 ;;
esac

scripts/setup.sh >&2
scripts/build.sh dev app_FaultsTest >&2
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$PWD/build/dev/runtime/app_FaultsTest
build/dev/bin/app_FaultsTest --gtest_brief=1
