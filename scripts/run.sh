#!/usr/bin/env bash
# Sets up the machine, builds the updater and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh dev qvupdate
exec build/dev/bin/qvupdate "$@"
