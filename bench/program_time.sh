#!/usr/bin/env bash
# The whole program on the largest texture: `tavrimox big.tex out.dds` timed by
# hyperfine against `cp` of a file of the output's size in the same folder, so
# that reading, writing and renaming are measured alongside the decode. The
# program flushes its output to the disk (fsync) before renaming it, so a
# third command, `cp` then `sync` of the copy, is the like-for-like floor.
#
#   bench/program_time.sh [BUILD_DIR [CORPUS]]    (defaults: build/bench, BUILD_DIR/corpus)
#
# The payload is the 4096x4096 DXT5 texture, raw DEFLATE at zlib level 9.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/bench}
corpus=${2:-$build/corpus}
tavrimox=$build/driver/tavrimox
make_tex=$build/tools/make_tex
blocks=$corpus/softwaves-4096.dxt5
work=$build/program_time

for tool in "$tavrimox" "$make_tex"; do
    [ -x "$tool" ] || { echo "$0: $tool missing: cmake --preset bench && cmake --build --preset bench" >&2; exit 1; }
done
[ -r "$blocks" ] || { echo "$0: $blocks missing: bench/make_corpus.sh $corpus" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "$0: hyperfine not installed" >&2; exit 1; }

mkdir -p "$work"
"$make_tex" --level 9 --raw 4096 4096 "$blocks" "$work/big.tex"
"$tavrimox" "$work/big.tex" "$work/reference.dds"
tail -c +129 "$work/reference.dds" | cmp -s - "$blocks" ||
    { echo "$0: the converted file does not hold the original blocks" >&2; exit 1; }

hyperfine --style basic --warmup 2 --min-runs 10 --export-json "$work/times.json" \
    -n tavrimox "$tavrimox $work/big.tex $work/out.dds" \
    -n cp "cp $work/reference.dds $work/copy.dds" \
    -n cp+sync "cp $work/reference.dds $work/copy.dds && sync $work/copy.dds"

python3 - "$work/times.json" "$work/big.tex" "$work/reference.dds" <<'EOF'
import json, os, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
print(f'{os.path.getsize(sys.argv[2])} bytes in, {os.path.getsize(sys.argv[3])} bytes out; '
      'median wall time, mean user + system time')
def cpu(r):
    return r["user"] + r["system"]
t = results["tavrimox"]
for name in ("tavrimox", "cp", "cp+sync"):
    r = results[name]
    print(f'{name:9} {r["median"] * 1e3:8.1f} ms  cpu {cpu(r) * 1e3:7.1f} ms  '
          f'tavrimox/{name} wall {t["median"] / r["median"]:5.2f}  cpu {cpu(t) / cpu(r):5.2f}')
EOF
