#!/usr/bin/env bash
# Writes the benchmark's raw inputs into the folder given (made if missing):
# DXT5 block data (the bytes after a DDS file's 128-byte header, as
# ImageMagick encodes them) of Debian desktop-base wallpapers, which are flat
# artwork, and of two photographs from mate-backgrounds, detailed as most game
# textures are; and two general files, text and machine code. bench_inflate
# compresses them itself.
#
#   bench/make_corpus.sh build/bench/corpus
#
# Needs ImageMagick and the desktop-base and mate-backgrounds packages. Inputs
# already present are kept; delete the folder to remake them.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "Usage: $0 corpus-folder" >&2
    exit 1
fi
out=$1
mkdir -p "$out"
themes=/usr/share/desktop-base
photos=/usr/share/backgrounds/mate/nature
for tool in convert; do
    command -v "$tool" >/dev/null || { echo "$0: $tool (ImageMagick) not installed" >&2; exit 1; }
done

# dxt5 SOURCE SIZE NAME [alpha]: centre-crops SOURCE (a path under $themes,
# or an absolute one) to SIZE x SIZE, encodes it
# as DXT5 without mip-maps and keeps the block data. An opaque picture needs
# "-alpha set", or ImageMagick falls back to DXT1. With "alpha", a vertical
# gradient becomes the alpha channel, so the alpha blocks are not all opaque.
dxt5() {
    local source=$1 size=$2 name=$3 alpha=${4:-}
    [ "${source#/}" = "$source" ] && source=$themes/$source
    [ -s "$out/$name" ] && return 0
    [ -r "$source" ] || { echo "$0: $source missing (package desktop-base or mate-backgrounds)" >&2; exit 1; }
    local dds
    dds=$(mktemp --suffix=.dds)
    local shape=(-resize "${size}x${size}^" -gravity center -extent "${size}x${size}")
    if [ "$alpha" = alpha ]; then
        convert "$source" "${shape[@]}" \( -size "${size}x${size}" gradient:white-black \) \
            -alpha off -compose CopyOpacity -composite \
            -define dds:compression=dxt5 -define dds:mipmaps=0 "DDS:$dds"
    else
        convert "$source" "${shape[@]}" -alpha set \
            -define dds:compression=dxt5 -define dds:mipmaps=0 "DDS:$dds"
    fi
    tail -c +129 "$dds" >"$out/$name"
    rm -f "$dds"
    local expected=$((size * size))
    local got
    got=$(stat -c %s "$out/$name")
    [ "$got" -eq "$expected" ] || { echo "$0: $name: $got bytes, expected $expected" >&2; exit 1; }
    echo "$name"
}

dxt5 softwaves-theme/grub/grub-16x9.png 1024 softwaves-1024.dxt5
dxt5 homeworld-theme/grub/grub-16x9.png 1024 homeworld-1024-alpha.dxt5 alpha
dxt5 emerald-theme/grub/grub-16x9.png 2048 emerald-2048.dxt5
dxt5 joy-theme/grub/grub-16x9.png 2048 joy-2048.dxt5
dxt5 softwaves-theme/grub/grub-16x9.png 4096 softwaves-4096.dxt5
# Photographs: sand ripples, and wood grain from a 2560x1920 original.
dxt5 "$photos/Dune.jpg" 1024 dune-1024.dxt5
dxt5 "$photos/Wood.jpg" 2048 wood-2048.dxt5

# Text: the licence texts, then package copyright files, cut at 4 MiB.
if [ ! -s "$out/text.txt" ]; then
    # cat ends on SIGPIPE once head has its 4 MiB.
    { cat /usr/share/common-licenses/* /usr/share/doc/*/copyright 2>/dev/null || true; } |
        head -c 4194304 >"$out/text.txt"
    echo text.txt
fi

# Machine code: the first 4 MiB of the cmake executable.
if [ ! -s "$out/binary.bin" ]; then
    head -c 4194304 "$(command -v cmake)" >"$out/binary.bin"
    echo binary.bin
fi
