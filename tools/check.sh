#!/usr/bin/env bash
# Builds and runs every test suite this machine can run. A suite whose
# toolchain is missing is skipped with a message; CI installs them all.
set -euo pipefail
cd "$(dirname "$0")/.."

suites=()
skipped=()

run_suite() {
    echo "=== $1 ==="
    cmake --workflow --preset "$1"
    suites+=("$1")
}

run_suite default

if command -v clang++ >/dev/null; then run_suite clang; else skipped+=("clang: clang++ not installed"); fi

if echo 'int main(){}' | g++ -x c++ -fsanitize=address,undefined -o /dev/null - 2>/dev/null; then
    run_suite asan
else
    skipped+=("asan: no sanitizer runtime")
fi

# 32-bit x86: built with g++ -m32 and run natively, or under qemu-i386 where
# the kernel cannot run 32-bit programs (enable_m32.sh registers it).
if m32_note=$(tools/enable_m32.sh); then
    if [ -n "$m32_note" ]; then echo "$m32_note"; fi
    run_suite m32
else
    skipped+=("m32: $m32_note")
fi

# libFuzzer: each target for 60 s from its committed seeds (fuzz/run.sh).
if echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
    echo "=== fuzz ==="
    fuzz/run.sh 60
    suites+=("fuzz")
else
    skipped+=("fuzz: clang++ with libFuzzer (libclang-rt-14-dev) not installed")
fi

echo
echo "suites run: ${suites[*]}"
for s in "${skipped[@]}"; do echo "SKIPPED $s"; done
