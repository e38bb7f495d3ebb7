#!/usr/bin/env bash
# Sets up the machine, builds the demo build and runs the updater against
# the bundled demo server: the window with a display, the headless driver
# without one. Options go to the headless driver (see scripts/demo/run-demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh demo qvupdate qvupdate-demo quorvan-window
exec scripts/demo/run-demo.sh build/demo "$@"
