#!/usr/bin/env bash
# Builds the fuzzers (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a while on its seed corpus.
#   scripts/fuzz.sh [seconds per fuzzer, default 300] [fuzzer names...]
# New inputs go to build/fuzz/corpus/<name>; a crash leaves its input in
# build/fuzz/findings/<name>, and the script fails. Put a fixed finding's
# input into fuzz/corpus/<name>, where every later run replays it first.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
scripts/setup.sh >&2
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target qv_fuzzers >&2

fuzzers=("$@")
if ((${#fuzzers[@]} == 0)); then
  for source in fuzz/*Fuzzer.cpp; do fuzzers+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:suppressions=$PWD/tests/asan.supp"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for name in "${fuzzers[@]}"; do
  work=build/fuzz/corpus/$name
  findings=build/fuzz/findings/$name
  mkdir -p "$work" "$findings"
  echo "== $name, ${seconds}s" >&2
  if ! build/fuzz/bin/"$name" -max_total_time="$seconds" -timeout=20 -max_len=4096 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "fuzz/corpus/$name" \
      2>"build/fuzz/$name.log"; then
    tail -40 "build/fuzz/$name.log" >&2
    failed+=("$name")
  else
    grep -E "stat::number_of_executed_units|cov:" "build/fuzz/$name.log" | tail -2 >&2
  fi
done
if ((${#failed[@]})); then
  echo "fuzzers that found a fault: ${failed[*]} (inputs in build/fuzz/findings)" >&2
  exit 1
fi
echo "all fuzzers ran ${seconds}s each without a finding"
