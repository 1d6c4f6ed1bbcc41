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

if echo '#include <cstdio>
int main(){}' | g++ -x c++ -m32 -o /dev/null - 2>/dev/null; then
    run_suite m32
else
    skipped+=("m32: g++-multilib not installed")
fi

echo
echo "suites run: ${suites[*]}"
for s in "${skipped[@]}"; do echo "SKIPPED $s"; done
