#!/usr/bin/env bash
# Re-makes every file under samples/: ImageMagick encodes each picture as DXT5
# without mip-maps, and make_tex wraps the blocks in a TEX file (zlib, level 9).
# Needs ImageMagick, Debian's desktop-base (the wallpaper) and a build of make_tex:
#   tools/make_samples.sh [path/to/make_tex]
set -euo pipefail
cd "$(dirname "$0")/.."

make_tex=${1:-build/default/tools/make_tex}
if [ ! -x "$make_tex" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target make_tex >/dev/null
fi
convert=${CONVERT:-convert}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# ImageMagick writes DXT1 for a picture without alpha; -alpha set keeps DXT5.
dxt5() {
    "$convert" "$1" -alpha set -define dds:compression=dxt5 -define dds:mipmaps=0 "$2"
}

# sample.tex: 64x64, drawn here. A diagonal gradient with a square, a disc, a
# triangle and a line, under a radial alpha ramp, so that the DXT5 alpha
# blocks vary too.
"$convert" -size 64x64 -define gradient:angle=135 gradient:'#ffb000-#2030c0' \
    -fill '#ffffff' -draw 'rectangle 8,8 23,23' \
    -fill '#20c040' -draw 'circle 44,20 44,10' \
    -stroke '#000000' -strokewidth 2 -draw 'line 4,60 60,36' \
    -stroke none -fill '#e02020' -draw 'polygon 10,54 24,34 38,54' \
    \( -size 64x64 radial-gradient:white-'#808080' \) \
    -alpha off -compose copy_opacity -composite "$work/sample.png"
dxt5 "$work/sample.png" "$work/sample.dds"
"$make_tex" "$work/sample.dds" samples/sample.tex

# softwaves.tex: 1024x1024, the right-hand square of desktop-base's
# "Soft Waves" GRUB background (GPL-2+, see samples/README.md).
wallpaper=/usr/share/desktop-base/softwaves-theme/grub/grub-16x9.png
"$convert" "$wallpaper" -gravity east -crop 1080x1080+120+0 +repage \
    -resize '1024x1024!' "$work/softwaves.png"
dxt5 "$work/softwaves.png" "$work/softwaves.dds"
"$make_tex" "$work/softwaves.dds" samples/softwaves.tex

ls -l samples/*.tex
