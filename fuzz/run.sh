#!/usr/bin/env bash
# Runs one fuzz target for a given time: fuzz/run.sh TARGET SECONDS [libFuzzer options...]
# New inputs go to fuzz/build/corpus/TARGET (the committed seeds in fuzz/corpus/TARGET are read
# only); crashes are written to fuzz/build/crashes/TARGET/.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 TARGET SECONDS [libFuzzer options...]" >&2; exit 2; }
cd "$(dirname "$0")"
here=$PWD  # absolute paths: they hold wherever a target works
t=$1 secs=$2; shift 2
./build.sh "$t"
work=$here/build/corpus/$t crashes=$here/build/crashes/$t
mkdir -p "$work" "$crashes" "$here/corpus/$t"
# The MIDI readers also start from the MIDI test corpus, read in place.
seeds=("$here/corpus/$t")
case $t in smf|midinfo) seeds+=("$here/../tests/data/midi/jazz-soft-test-midi-files") ;; esac
# Scratch files of the file-based targets live in memory when /dev/shm is there: a run then
# measures the parsers, not the disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "build/fuzz_$t" -max_total_time="$secs" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$crashes/" -print_final_stats=1 "$@" "$work" "${seeds[@]}"
