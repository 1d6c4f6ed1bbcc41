#!/usr/bin/env bash
# The batch program against a shell loop that runs tavrimox once per file, on
# a game folder of 2000 small textures (64x64 to 256x256) in 100 nested
# folders and 40 large ones (1024x1024 to 4096x4096): hyperfine times, in one
# run, tavrimox-batch with its default jobs, with -j 1, the loop, and
# tavrimox-batch --check; then files/s and MB/s of output for each.
#
#   bench/batch_time.sh [BUILD_DIR [CORPUS [RUNS]]]    (defaults: build/bench, BUILD_DIR/corpus, 5)
#
# CORPUS is make_corpus.sh's; the folder is written once by make_batch_tree.py.
# BATCH_WORK=FOLDER puts the game folder and the outputs there instead of
# BUILD_DIR/batch_time (a tmpfs, say, to leave the disk out).
# Each run starts from a synced disk, so that the writes a run leaves
# pending do not fall on the next.
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build/bench}")
corpus=${2:-$build/corpus}
runs=${3:-5}
tavrimox=$build/driver/tavrimox
batch=$build/driver/tavrimox-batch
work=${BATCH_WORK:-$build/batch_time}

for tool in "$tavrimox" "$batch"; do
    [ -x "$tool" ] || { echo "$0: $tool missing: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
done
[ -r "$corpus/softwaves-4096.dxt5" ] || { echo "$0: no corpus at $corpus: bench/make_corpus.sh $corpus" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "$0: hyperfine not installed" >&2; exit 1; }

mkdir -p "$work"
[ -s "$work/list.txt" ] || python3 bench/make_batch_tree.py "$corpus" "$work"
cd "$work"

# The loop as a script would write it; its output folders made beforehand.
cat >loop.sh <<LOOP
#!/bin/sh
while read -r f; do
    g=\${f#game/}
    "$tavrimox" "\$f" "out/\${g%.tex}.dds"
done <list.txt
LOOP
chmod +x loop.sh
make_folders="rm -rf out && sync && sed -e 's|^game/|out/|' -e 's|/[^/]*\$||' list.txt | sort -u | xargs mkdir -p"

# Both ways must leave the same files.
rm -rf out reference
"$batch" -q -r -o reference game
sh -c "$make_folders" && ./loop.sh
diff -r -q out reference || { echo "$0: the loop and tavrimox-batch wrote different files" >&2; exit 1; }

hyperfine --style basic --warmup 1 --runs "$runs" --export-json times.json \
    --prepare "rm -rf out && sync" -n "tavrimox-batch" "$batch -q -r -o out game" \
    --prepare "rm -rf out && sync" -n "tavrimox-batch -j 1" "$batch -q -j 1 -r -o out game" \
    --prepare "$make_folders" -n "per-file loop" "./loop.sh" \
    --prepare "sync" -n "tavrimox-batch --check" "$batch -q --check -r game"

python3 - times.json reference list.txt <<'PY'
import json, os, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
out_bytes = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(sys.argv[2]) for f in fs)
files = sum(1 for _ in open(sys.argv[3]))
print(f"{files} files, {out_bytes / 1e6:.1f} MB of output (--check: decoded, not written)")
print("| command | mean s | ± s | files/s | MB/s |")
print("|---|---|---|---|---|")
for name, r in results.items():
    print(f'| `{name}` | {r["mean"]:.3f} | {r["stddev"]:.3f} | {files / r["mean"]:.0f} | {out_bytes / 1e6 / r["mean"]:.0f} |')
default = results["tavrimox-batch"]["mean"]
print(f'default jobs / per-file loop: {results["per-file loop"]["mean"] / default:.2f}x faster; '
      f'--check / default conversion: {default / results["tavrimox-batch --check"]["mean"]:.2f}x faster')
PY
