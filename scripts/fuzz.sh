#!/usr/bin/env bash
# Builds the libFuzzer target (clang, ASan + UBSan) in build-fuzz and runs it for SECONDS seconds
# on a copy of the seed corpus (fuzz/corpus and tests/data/regressions) with fuzz/avi.dict.
# Prints the number of executions. Exits non-zero on any finding (a crash, a sanitizer report,
# a broken movie, a leak, a timeout, an allocation beyond the limit); the input that caused it
# is left in build-fuzz/findings/.
#
#   scripts/fuzz.sh 120
set -euo pipefail
seconds=${1:?usage: scripts/fuzz.sh SECONDS}
cd "$(dirname "$0")/.."

build=build-fuzz
CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$build" -G Ninja -DREELFIX_FUZZ=ON \
  -DREELFIX_BUILD_TESTS=OFF -DREELFIX_WERROR=ON >/dev/null
cmake --build "$build" --target convert_fuzzer -j2

# The fuzzer writes a source and a movie for every execution: memory-backed files run it
# several times faster.
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then
  export TMPDIR=/dev/shm
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus" "$work/scratch"
cp fuzz/corpus/*.avi "$work/corpus/"
find tests/data/regressions -type f ! -name README -exec cp {} "$work/corpus/" \;
findings="$build/findings"
mkdir -p "$findings"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Sources of up to 64 KiB. An input that small backs no allocation of 256 MiB, and no input may
# take 10 seconds.
# Its scratch directory lies inside the work directory, so it goes even after a finding.
status=0
TMPDIR="$work/scratch" "$build/fuzz/convert_fuzzer" -max_total_time="$seconds" -dict=fuzz/avi.dict -max_len=65536 \
  -timeout=10 -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$findings/" \
  "$work/corpus" >"$work/log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
if [[ $status -ne 0 || -z $executions ]]; then
  tail -n 80 "$work/log"
  echo "fuzz: FINDING (exit status $status); inputs in $findings/:" >&2
  ls -l "$findings" >&2
  exit 1
fi
grep -E '^(Dictionary|INFO: +[0-9]+ files found|#[0-9]+[[:space:]]+DONE)' "$work/log" || true
echo "fuzz: ${executions} executions in ${seconds} s, no finding"
