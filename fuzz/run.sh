#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for SECONDS (default
# 60) from its committed seeds; exits non-zero at the first finding, whose
# input is kept in build/fuzz/findings/.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_inflate fuzz_differential fuzz_driver fuzz_fast_path)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

findings=build/fuzz/findings
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
    echo "=== $target, ${seconds} s ==="
    mkdir -p "$work/$target"
    # New inputs go to the scratch folder; the committed seeds are only read.
    # -max_len covers the largest seed; one input may take 10 s at most.
    # fuzz_fast_path takes the decoder's raw streams: it has no seeds of its own.
    seeds=fuzz/corpus/$target
    [ -d "$seeds" ] || seeds=fuzz/corpus/fuzz_inflate
    build/fuzz/fuzz/"$target" "$work/$target" "$seeds" \
        -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/$target-" -print_final_stats=1 \
        2>"$work/$target.log" || {
        tail -n 60 "$work/$target.log"
        echo "FAILED $target: the input is in $findings/"
        exit 1
    }
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|^#[0-9]+[[:space:]]+DONE' "$work/$target.log" || true
done
