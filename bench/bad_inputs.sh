#!/usr/bin/env bash
# Every file of the test corpus and 200 damaged MIDI files, each through its own
# "korvessa info" and "korvessa convert" (WAVE), with a time bound per file. Reports per kind of
# damage how many converted, how many were refused with a message, the slowest file, and every
# crash (a signal), run that hit the bound (stopped with SIGTERM: "long"; needing SIGKILL after
# that: "hang") or file left beside the outputs.
#
#   bench/bad_inputs.sh [BUILD_DIR] [BOUND_SECONDS]     defaults: build, 30
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
bound=${2:-30}
[[ $build = /* ]] || build=$here/$build
korvessa=$build/bin/korvessa
make_mutants=$build/tests/make_mutants
corpus=$here/tests/data/midi/jazz-soft-test-midi-files
for f in "$korvessa" "$make_mutants"; do [ -x "$f" ] || { echo "bad_inputs: $f not built" >&2; exit 2; }; done

work=$(mktemp -d /tmp/korvessa-bad.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/out"
printf '[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nSource=synth\nFast=1\nVolume=100\n' >"$work/system.ini"
export KORVESSA_SYSTEM_INI=$work/system.ini
"$make_mutants" "$work/in" 200 "$corpus/test-c-major-scale.mid" "$corpus/test-multichannel-chords-0.mid" \
  "$corpus/test-2-tracks-type-1.mid" "$corpus/test-2-tracks-type-0.mid" "$corpus/test-karaoke-kar.mid" >"$work/kinds" ||
  exit 2
for f in "$corpus"/*.mid; do printf '%s\tcorpus\n' "$(basename "$f")" >>"$work/kinds"; cp "$f" "$work/in/"; done

now() { date +%s.%N; }
crashes=0 hangs=0 longs=0 silent=0 leftovers=0
: >"$work/results"
while IFS=$'\t' read -r name kind; do
  f=$work/in/$name
  # info
  t0=$(now)
  timeout -k 10 "$bound" "$korvessa" info "$f" </dev/null >/dev/null 2>"$work/info.err"
  irc=$?
  t1=$(now)
  # convert, alone in a fresh folder
  rm -rf "$work/out" && mkdir "$work/out"
  timeout -k 10 "$bound" "$korvessa" convert --delay 0 --out "$work/out" "$f" </dev/null >"$work/conv.out" 2>"$work/conv.err"
  crc=$?
  t2=$(now)
  result=converted
  [ "$crc" -ne 0 ] && result=refused
  if [ "$irc" -eq 124 ] || [ "$crc" -eq 124 ]; then result=long; longs=$((longs + 1)); fi
  if [ "$irc" -eq 137 ] || [ "$crc" -eq 137 ]; then result=hang; hangs=$((hangs + 1));
  elif { [ "$irc" -ge 128 ] || [ "$crc" -ge 128 ]; } && [ "$result" != long ]; then result=crash; crashes=$((crashes + 1)); fi
  # Refused files must be explained: a message besides the closing "not converted" line.
  if [ "$result" = refused ] && ! grep "^korvessa: " "$work/conv.err" | grep -qv ": not converted$"; then
    result=silent; silent=$((silent + 1))
  fi
  others=$(find "$work/out" -mindepth 1 ! -name '*.wav' | wc -l)
  # Even a run stopped at the bound must leave nothing but finished outputs.
  if [ "$others" -ne 0 ]; then leftovers=$((leftovers + 1)); result="$result+leftover"; fi
  awk -v n="$name" -v k="$kind" -v r="$result" -v a="$t0" -v b="$t1" -v c="$t2" \
    'BEGIN {printf "%s\t%s\t%s\t%.3f\t%.3f\n", n, k, r, b - a, c - b}' >>"$work/results"
done <"$work/kinds"

echo "files: $(wc -l <"$work/results") (200 damaged + corpus), bound ${bound} s per file and step"
printf '%-16s %5s %9s %8s %6s %5s %5s %10s %12s\n' kind files converted refused crash long hang "max info s" "max convert s"
awk -F'\t' '
  {k = $2; n[k]++; split($3, r, "+"); c[k, r[1]]++; if ($4 > mi[k]) mi[k] = $4; if ($5 > mc[k]) mc[k] = $5
   if ($4 > MI) MI = $4; if ($5 > MC && r[1] != "hang" && r[1] != "long") MC = $5}
  END {
    for (k in n) printf "%-16s %5d %9d %8d %6d %5d %5d %10.2f %12.2f\n", k, n[k], c[k, "converted"], c[k, "refused"],
                        c[k, "crash"], c[k, "long"], c[k, "hang"], mi[k], mc[k]
    printf "slowest info %.2f s; slowest convert that ended %.2f s\n", MI, MC
  }' "$work/results" | sort
echo "crashes: $crashes, bound hit and stopped: $longs, hangs (not even stopped by SIGTERM): $hangs," \
  "refused without a message: $silent, runs that left other files beside the outputs: $leftovers"
grep -P '\t(crash|hang|long|silent)' "$work/results" | cut -f1,2,3 | head -30
[ "$crashes" -eq 0 ] && [ "$hangs" -eq 0 ] && [ "$silent" -eq 0 ] && [ "$leftovers" -eq 0 ]
