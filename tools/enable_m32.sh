#!/usr/bin/env bash
# Exits 0 when this machine can build and run 32-bit x86 programs. A kernel
# without IA-32 emulation refuses them ("Exec format error"); then, as root,
# this registers qemu-i386-static with binfmt_misc so that they run under it.
# Otherwise it prints why not and exits 1.
set -uo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! echo '#include <cstdio>
int main() { std::puts(sizeof(void*) == 4 ? "32" : "64"); }' |
    g++ -x c++ -m32 -o "$work/probe" - 2>/dev/null; then
    echo "g++ -m32 cannot build (g++-multilib not installed)"
    exit 1
fi
[ "$("$work/probe" 2>/dev/null)" = 32 ] && exit 0

qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -x "$qemu" ]; then
    echo "32-bit programs do not run here and $qemu is missing (qemu-user-static)"
    exit 1
fi
if [ "$(id -u)" != 0 ]; then
    echo "32-bit programs do not run here; registering qemu-i386 needs root"
    exit 1
fi
if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null
fi
if [ -e "$binfmt/qemu-i386" ]; then
    echo 1 >"$binfmt/qemu-i386" 2>/dev/null  # registered but disabled
else
    # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
    # Flag F: the interpreter is opened now, so it works inside any mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
        >"$binfmt/register" 2>/dev/null
fi
if [ "$("$work/probe" 2>/dev/null)" = 32 ]; then
    echo "32-bit programs run under $qemu (registered with binfmt_misc)"
    exit 0
fi
echo "32-bit programs do not run here, even with $qemu registered"
exit 1
