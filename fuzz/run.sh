#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each from its committed seed corpus.
# Usage: fuzz/run.sh BUILD_FOLDER SECONDS_PER_TARGET. Any finding makes it fail.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${2:-60}
CXX=clang++ cmake -S . -B "$build" -DKELTO_FUZZ=ON -DKELTO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in coefficient_file calculation_chain cif_reader journal_text; do
  cp -r "fuzz/corpus/$target" "$work/$target"
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$work/$target-" \
       "$work/$target" >"$work/$target.log" 2>&1; then
    echo "fuzz_$target: $(ls "$work/$target" | wc -l) inputs in the corpus after ${seconds} s, no findings"
  else
    echo "fuzz_$target: FINDING"
    tail -n 60 "$work/$target.log"
    for artifact in "$work/$target"-*; do od -c "$artifact" | head -n 20; done
    status=1
  fi
done
exit $status
