#!/usr/bin/env bash
# Builds the coverage preset (gcov, -O0), runs every test, and prints line and
# branch coverage of inflate/ and driver/ with gcovr; the Missing column names
# the lines not run, or the lines holding a branch never taken.
#
#   tools/coverage.sh [BUILD_DIR]      (default build/coverage)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}

command -v gcovr >/dev/null || { echo "gcovr not installed (apt-get install gcovr)"; exit 1; }
cmake --preset coverage -B "$build" >/dev/null
cmake --build "$build" -j2
find "$build" -name '*.gcda' -delete
tests_status=0
ctest --test-dir "$build" -j2 --output-on-failure || tests_status=$?

# Exceptions come only from the standard library (allocation failure), and the
# compiler's own unreachable branches are not the code's: both left out.
# CMake's compiler probe under CMakeFiles has no data of its own.
report=(gcovr --root . --object-directory "$build" --filter 'inflate/' --filter 'driver/'
        --exclude-directories "$build/CMakeFiles"
        --exclude-unreachable-branches --exclude-throw-branches)
echo
echo "=== lines ==="
"${report[@]}"
echo "=== branches ==="
"${report[@]}" --branches --print-summary
if [ "$tests_status" != 0 ]; then
    echo "some tests failed (ctest status $tests_status): the figures above are incomplete"
    exit "$tests_status"
fi
