#!/usr/bin/env bash
# Cross-builds reelfix.exe and the test program for 64-bit Windows with mingw-w64, then runs
# the test suite under Wine in a throw-away Wine prefix. Exits non-zero on any failure.
#
#   scripts/windows-cross-test.sh [build-directory]     (default: build-win)
#
# Needs cmake, ninja, Debian's g++-mingw-w64-x86-64-posix, googletest (sources in
# /usr/src/googletest) and wine/wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build_dir=${1:-build-win}
[[ $build_dir == /* ]] || build_dir=$source_dir/$build_dir

log() { printf '== %s\n' "$*"; }
fail() { printf 'windows-cross-test: %s\n' "$*" >&2; exit 1; }

for tool in cmake ninja x86_64-w64-mingw32-g++-posix; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
[[ -f /usr/src/googletest/CMakeLists.txt ]] || fail "the GoogleTest sources (/usr/src/googletest) are missing"
source scripts/wine-prefix.sh
wine_find || fail "wine is missing"

start=$SECONDS
log "cross-building in $build_dir"
cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELFIX_WERROR=ON -DREELFIX_BUILD_TESTS=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
program="$build_dir/reelfix.exe"
tests="$build_dir/tests/reelfix_tests.exe"
[[ -f $program && -f $tests ]] || fail "the build made no reelfix.exe or reelfix_tests.exe"
log "built in $((SECONDS - start)) s"

# FFmpeg is a Linux program, out of reach of the Windows test program.
unset REELFIX_REQUIRE_FFMPEG
trap wine_prefix_remove EXIT

log "preparing a Wine prefix"
start=$SECONDS
wine_prefix_start || fail "Wine did not create its prefix"
log "prefix ready in $((SECONDS - start)) s"

# The programs run in a folder of the prefix's drive C:, as they would on Windows; the build
# tree is on Z: (Wine's name for /).
run_dir="$WINEPREFIX/drive_c/reelfix-tests"
mkdir -p "$run_dir"

log "smoke test: reelfix.exe without arguments"
status=0
(cd "$run_dir" && timeout 120 "$wine" "$program" >usage.txt 2>&1) || status=$?
[[ $status == 1 ]] || fail "reelfix.exe without arguments ended with status $status, not 1"
grep -q '^reelfix.exe <source.avi> <destination.avi>' "$run_dir/usage.txt" ||
  fail "reelfix.exe printed no usage text: $(cat "$run_dir/usage.txt")"

log "running the test suite under Wine"
start=$SECONDS
status=0
(cd "$run_dir" && timeout 900 "$wine" "$tests" --gtest_brief=1) 2>&1 | tee "$run_dir/tests.txt" ||
  status=${PIPESTATUS[0]}
log "test suite ran in $((SECONDS - start)) s"
count() { sed -n "s/^\[  $1 *\] \([0-9]*\) tests\{0,1\}[.,].*/\1/p" "$run_dir/tests.txt" | head -n 1; }
# The brief output names each failed test once, with its time, and gives no count of them.
failed=$(grep -c '^\[  FAILED  \] [^ ]* (' "$run_dir/tests.txt" || true)
passed=$(count PASSED) skipped=$(count SKIPPED)
echo "Wine: ${passed:-0} passed, ${failed:-0} failed, ${skipped:-0} skipped"
[[ $status == 0 ]] || fail "the test suite failed under Wine (status $status)"
[[ ${passed:-0} -gt 0 ]] || fail "no test ran under Wine"
