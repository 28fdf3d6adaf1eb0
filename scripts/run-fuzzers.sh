#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time each, one after the other.
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS
# The kept corpus (tests/fuzz/corpus/<target>) seeds each run; what a run finds goes to a
# scratch corpus in the build tree, so the repository stays small. A crash stops the run with
# its input saved under BUILD_DIR/fuzz-findings.
set -euo pipefail
build_dir=${1:?build directory}
seconds=${2:?seconds per target}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
findings="$build_dir/fuzz-findings"
mkdir -p "$findings"

for target in "$build_dir"/tests/fuzz/fuzz_*; do
    [[ -x "$target" && -f "$target" ]] || continue
    name=$(basename "$target")
    scratch="$build_dir/fuzz-corpus/$name"
    mkdir -p "$scratch"
    echo "== $name: $seconds s"
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$findings/$name-" "$scratch" "$source_dir/tests/fuzz/corpus/$name" 2>&1 \
        | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' \
        || true
    # grep hides the exit status; a finding leaves an artifact.
    if compgen -G "$findings/$name-*" >/dev/null; then
        echo "$name: finding kept in $findings" >&2
        exit 1
    fi
done
