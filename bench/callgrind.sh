#!/usr/bin/env bash
# Instructions per decoded byte, counted by callgrind: each decoder decodes a
# stream a few times; a run that sets up the same stream but decodes nothing
# is subtracted, so reading and compressing the corpus is not counted.
#
#   bench/callgrind.sh [BUILD_DIR [CORPUS]]    (defaults: build/bench, BUILD_DIR/corpus)
#
# Streams: a 1024x1024 DXT5 texture at zlib level 9 and text at zlib level 6;
# set STREAMS (space-separated FILE@COMPRESSOR) and REPS to change them.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
corpus=${2:-$build/corpus}
bench=$build/bench/bench_inflate
streams=(${STREAMS:-softwaves-1024.dxt5@zlib9 text.txt@zlib6})
reps=${REPS:-3}

[ -x "$bench" ] || { echo "$0: $bench missing: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
[ -d "$corpus" ] || { echo "$0: no corpus at $corpus: bench/make_corpus.sh $corpus" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "$0: valgrind not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints the instructions executed by the whole run.
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$work/out" "$bench" "$@" \
        >"$work/stdout" 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    awk '/^(summary|totals):/ { print $2; exit }' "$work/out"
}

# The decoders this build has: the usage line lists them all, and --reps 0
# refuses the ones not built in.
decoders=()
for d in tavrimox bitwise zlib libdeflate isal; do
    if "$bench" --only "$d" --stream "${streams[0]}" --reps 0 --no-verify "$corpus" >/dev/null 2>&1; then
        decoders+=("$d")
    fi
done

printf 'instructions per decoded byte (%s runs each, setup subtracted)\n' "$reps"
printf '%-30s' stream
for d in "${decoders[@]}"; do printf ' %10s' "$d"; done
printf '\n'
for stream in "${streams[@]}"; do
    base=$(instructions --only tavrimox --stream "$stream" --reps 0 --no-verify "$corpus")
    bytes=$(awk '{ for (i = 1; i < NF; i++) if ($i == "output_bytes") print $(i + 1) }' "$work/stdout")
    # One checked run outside callgrind: the counts are of correct decodes.
    for d in "${decoders[@]}"; do
        "$bench" --only "$d" --stream "$stream" --reps 1 "$corpus" >/dev/null
    done
    printf '%-30s' "$stream"
    for d in "${decoders[@]}"; do
        total=$(instructions --only "$d" --stream "$stream" --reps "$reps" --no-verify "$corpus")
        awk -v t="$total" -v b="$base" -v n="$reps" -v s="$bytes" \
            'BEGIN { printf " %10.2f", (t - b) / (n * s) }'
    done
    printf '\n'
done
