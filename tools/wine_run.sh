#!/bin/sh
# Runs a Windows program under wine: tools/wine_run.sh win32|win64 program.exe args...
# It is the cross builds' CMAKE_CROSSCOMPILING_EMULATOR. WINEPREFIX defaults to
# a throwaway prefix under /tmp; the first run creates it (about a minute and a
# half), so tools/check.sh warms it and keeps one wineserver for the whole suite.
set -e
arch=$1
shift
if [ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
    loader=/usr/lib/wine/wine64  # Debian's own 64-bit loader, also when wine32 is installed
elif [ "$arch" = win64 ] && command -v wine64 >/dev/null 2>&1; then
    loader=wine64
else
    loader=wine
fi
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/tavrimox-wine-$(id -u)}"
export WINEDEBUG=-all
# No Mono or Gecko prompts, no menu entries, no crash dialog waiting for a click.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
export LC_ALL=C.UTF-8
# Generous: a test program runs many conversions; a hang must still end.
exec timeout -k 10 600 "$loader" "$@"
