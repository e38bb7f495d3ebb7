#!/usr/bin/env bash
# Builds the libraries and their tests for Windows with MinGW-w64 and runs
# every test program under Wine in a virtual display, in a throw-away Wine
# prefix. Closes with "N passed, N failed", counting test cases; a program
# that crashes or hangs counts as one failure. Exits non-zero on a failure.
# Then the updater end to end (scripts/wine-update-demo.sh), its steps
# counted as cases. Arguments, if any, name the test programs to run (e.g.
# socket_WSocketTest), "update-demo" the end-to-end run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QVUPDATE_WINDOWS_BUILD:-build/windows}
scripts/setup-windows.sh "$build"
cmake --preset windows -B "$build" >/dev/null
mapfile -t programs < <(ninja -C "$build" -t targets all |
  grep -oE '^(platform|socket|http|app|win32)_[A-Za-z]+Test' | sort -u)
demo=1
if (($#)); then
  programs=()
  demo=0
  for name in "$@"; do
    if [[ $name == update-demo ]]; then demo=1; else programs+=("$name"); fi
  done
fi
demo_targets=()
((demo)) && demo_targets=(qvupdate qvupdate-hosts qvdialog-driver)
cmake --build "$build" --target "${programs[@]}" "${demo_targets[@]}"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no .NET or HTML engine prompts
WINEPREFIX=$(mktemp -d /tmp/qvupdate-wine.XXXXXX)
export WINEPREFIX
logs="$build/wine-logs"
rm -rf "$logs"
mkdir -p "$logs"

# Wine's windows, hidden ones included, need a display.
display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [[ -s "$display_file" ]] && break
  sleep 0.1
done
[[ -s "$display_file" ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w

passed=0
failed=0
for program in "${programs[@]}"; do
  log="$logs/$program.log"
  status=0
  timeout 600 "$wine" "$build/bin/$program.exe" --gtest_color=no 2>&1 | tr -d '\r' >"$log" || status=$?
  ok=$(grep -cE '^\[       OK \] ' "$log" || true)
  bad=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
  if ((status != 0 && bad == 0)); then
    bad=1  # crashed or hung: no case reported its own failure
  fi
  passed=$((passed + ok))
  failed=$((failed + bad))
  if ((bad)); then
    echo "FAIL $program ($ok passed, $bad failed, exit $status; log: $log)"
    grep -E '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" | sed 's/^/     /' || true
  else
    echo "ok   $program ($ok passed)"
  fi
done

if ((demo)); then
  log="$logs/update-demo.log"
  status=0
  scripts/wine-update-demo.sh "$build" >"$log" 2>&1 || status=$?
  read -r ok bad < <(sed -nE 's/^([0-9]+) passed, ([0-9]+) failed$/\1 \2/p' "$log" | tail -n1) || true
  ok=${ok:-0}
  bad=${bad:-0}
  ((status == 0 || bad > 0)) || bad=1
  passed=$((passed + ok))
  failed=$((failed + bad))
  if ((bad)); then
    echo "FAIL update-demo ($ok passed, $bad failed, exit $status; log: $log)"
    grep '^FAIL' "$log" | sed 's/^/     /' || true
  else
    echo "ok   update-demo ($ok passed)"
  fi
fi

echo "$passed passed, $failed failed"
((failed == 0))
