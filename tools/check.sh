#!/usr/bin/env bash
# Builds and runs every test suite this machine can run, each with warnings
# as errors: the full matrix, of which README's test command (the default
# preset) is the quick tier. A suite whose toolchain is missing is skipped
# with a message; CI installs them all.
set -euo pipefail
cd "$(dirname "$0")/.."

suites=()
skipped=()

run_suite() {
    echo "=== $1 ==="
    cmake --workflow --preset "$1"
    suites+=("$1")
}

run_suite dev

if command -v clang++ >/dev/null; then run_suite clang; else skipped+=("clang: clang++ not installed"); fi

if echo 'int main(){}' | g++ -x c++ -fsanitize=address,undefined -o /dev/null - 2>/dev/null; then
    run_suite asan
else
    skipped+=("asan: no sanitizer runtime")
fi

if echo 'int main(){}' | g++ -x c++ -fsanitize=thread -o /dev/null - 2>/dev/null; then run_suite tsan; else skipped+=("tsan: no sanitizer runtime"); fi

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

# Windows: the shipped 32-bit program is built warning-free and its imports
# checked; every test runs under wine64 on the 64-bit build of the same
# sources, and under wine on the 32-bit build where wine can run it (not
# where the kernel lacks 32-bit support). One throwaway prefix, one wineserver.
# Wine now and then fails to start a program (no output, 0.01 s; about one
# suite run in ten here), so its test presets run a failed test once more:
# a test that fails twice fails the suite.
wine_server() {
    if [ -x /usr/lib/wine/wineserver64 ]; then /usr/lib/wine/wineserver64 "$@"; else wineserver "$@"; fi
}
stop_wine() {
    wine_server -k 2>/dev/null || true
}
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    run_suite mingw-i686
    if command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
        { [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null; }; then
        export WINEPREFIX="$PWD/build/wine-prefix"
        trap stop_wine EXIT
        echo "=== wine prefix $WINEPREFIX ==="
        time tools/wine_run.sh win64 cmd /c exit  # creates the prefix the first time
        # Then one server for all the suite's many short runs, in place of
        # that run's (or one an interrupted run left behind).
        wine_server -k 2>/dev/null || true
        for _ in $(seq 50); do wine_server -p 2>/dev/null && break; sleep 0.2; done
        # Wine's background processes start with the first program and keep
        # its output handles: not ctest's pipes, or ctest waits for them.
        tools/wine_run.sh win64 cmd /c exit </dev/null >/dev/null 2>&1
        run_suite mingw-x86_64
        if [ "$(timeout -k 5 30 tools/wine_run.sh win32 build/mingw-i686/driver/tavrimox.exe 2>/dev/null |
                tr -d '\r')" = "Usage: tavrimox filename.tex filename.dds" ]; then
            run_suite mingw-i686-wine
        else
            skipped+=("mingw-i686-wine: wine here cannot run 32-bit Windows programs (tests ran on mingw-x86_64)")
        fi
        stop_wine
        trap - EXIT
    else
        skipped+=("mingw-x86_64: x86_64-w64-mingw32-g++-posix or wine64 not installed")
    fi
else
    skipped+=("mingw-i686, mingw-x86_64: i686-w64-mingw32-g++-posix not installed")
fi

echo
echo "suites run: ${suites[*]}"
for s in "${skipped[@]}"; do echo "SKIPPED $s"; done
