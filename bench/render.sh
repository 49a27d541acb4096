#!/usr/bin/env bash
# Renders the same MIDI files with Korvessa's recorder (fast mode, through the media control
# commands), fluidsynth -F and timidity -Ow, all at 44.1 kHz with the same SoundFont, and prints
# wall time and peak memory side by side with ratios against Korvessa.
#
#   bench/render.sh [-s SOUNDFONT] [-b BUILD_DIR] [FILE.mid ...]
#   bench/render.sh -n RUNS [-l SECONDS] [-s SOUNDFONT] [-b BUILD_DIR] [FILE.mid]
#
# Default SoundFont: TimGM6mb.sf2; default files: the longest pieces of the test corpus.
#
# With -n: one song (default: a generated four-part band piece of -l seconds, 602 by default),
# RUNS paired runs of `korvessa convert` on one core, on every core (one synthesizer, its voices
# on the cores), on as many lanes as cores (Lanes=N: a synthesizer per group of channels, a heavy
# channel split by key), `fluidsynth -F` and `timidity -Ow`, in turn within each run; prints the medians of wall time,
# CPU time (user + system) and peak memory, the ratios against fluidsynth -F, and a projection
# for 4, 8 and 16 cores (Amdahl's law on the one-core and all-core times).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
sf2=/usr/share/sounds/sf2/TimGM6mb.sf2
build=$root/build
runs=0
song_s=602
while getopts "s:b:n:l:" opt; do
  case $opt in
    s) sf2=$OPTARG ;;
    b) build=$OPTARG ;;
    n) runs=$OPTARG ;;
    l) song_s=$OPTARG ;;
    *) sed -n '2,15p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

corpus=$root/tests/data/midi/jazz-soft-test-midi-files
if [ $# -eq 0 ] && [ "$runs" -eq 0 ]; then
  set -- "$corpus/test-all-gs-sounds.mid" "$corpus/test-all-xg-sounds.mid" "$corpus/test-all-gm2-sounds.mid"
fi

# The other renderers and GNU time, from Debian.
need=()
command -v fluidsynth >/dev/null || need+=(fluidsynth)
command -v timidity >/dev/null || need+=(timidity)
command -v lame >/dev/null || need+=(lame)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "render.sh needs: apt-get install ${need[*]} (as root)" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi
[ -f "$sf2" ] || { echo "render.sh: no SoundFont $sf2" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cmake --build "$build" --target mci_render >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
mci=$build/bin/mci_render
# The recorder uses the same SoundFont, in fast mode, recording the synth's own mix.
export KORVESSA_SYSTEM_INI=$work/system.ini
printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$sf2" >"$KORVESSA_SYSTEM_INI"

# Runs a command under GNU time; prints "seconds kilobytes".
measure() {
  local t=$work/time.txt
  if ! /usr/bin/time -f '%e %M' -o "$t" "$@" >"$work/out.log" 2>&1; then
    echo "render.sh: failed: $*" >&2
    sed 's/^/  /' "$work/out.log" >&2
  fi
  cat "$t"
}

# Runs a command under GNU time; prints "wall cpu kilobytes" (cpu = user + system).
measure3() {
  local t=$work/time3.txt
  if ! /usr/bin/time -f '%e %U %S %M' -o "$t" "$@" >"$work/out.log" 2>&1; then
    echo "render.sh: failed: $*" >&2
    sed 's/^/  /' "$work/out.log" >&2
  fi
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$t"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The single-song paired run (-n).
single() {
  local mid=${1:-}
  if [ -z "$mid" ]; then
    mid=$work/song.mid
    python3 "$here/make_midi.py" song "$song_s" "$mid"
  fi
  cmake --build "$build" --target korvessa >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
  local cores names=(k1 kn kl fl ti) i n
  cores=$(nproc)
  sed "\$a Lanes=$cores" "$KORVESSA_SYSTEM_INI" >"$work/lanes.ini"
  export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
  local conv=("$build/bin/korvessa" convert --out "$work/out" --delay 0 --sample 120 --format wav)
  # The load before the runs: other work's, not theirs.
  local load
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out"
    measure3 "${conv[@]}" -j 1 "$mid" >>"$work/k1"
    rm -rf "$work/out"
    measure3 "${conv[@]}" -j "$cores" "$mid" >>"$work/kn"
    rm -rf "$work/out"
    KORVESSA_SYSTEM_INI=$work/lanes.ini measure3 "${conv[@]}" -j "$cores" "$mid" >>"$work/kl"
    measure3 fluidsynth -ni -q -F "$work/f.wav" -r 44100 "$sf2" "$mid" >>"$work/fl"
    measure3 timidity -Ow -o "$work/t.wav" -s 44100 -x "soundfont $sf2" "$mid" >>"$work/ti"
  done
  declare -A wall cpu mem
  for n in "${names[@]}"; do
    wall[$n]=$(cut -d' ' -f1 "$work/$n" | median)
    cpu[$n]=$(cut -d' ' -f2 "$work/$n" | median)
    mem[$n]=$(cut -d' ' -f3 "$work/$n" | median)
  done
  local k_wav
  k_wav=$(ls "$work/out"/*.wav)
  echo "song: $(basename "$mid"), $(seconds "$k_wav") s of audio; $runs paired runs, medians; $cores cores; load before $load"
  printf '%-28s %8s %8s %9s %10s %10s\n' renderer "wall s" "cpu s" "peak MB" "wall/fl" "cpu/fl"
  local label
  for n in "${names[@]}"; do
    case $n in
      k1) label="korvessa -j 1" ;;
      kn) label="korvessa -j $cores" ;;
      kl) label="korvessa Lanes=$cores" ;;
      fl) label="fluidsynth -F" ;;
      ti) label="timidity -Ow" ;;
    esac
    printf '%-28s %8s %8s %9.1f %10s %10s\n' "$label" "${wall[$n]}" "${cpu[$n]}" \
      "$(awk -v k="${mem[$n]}" 'BEGIN { print k / 1024 }')" \
      "$(awk -v a="${wall[$n]}" -v b="${wall[fl]}" 'BEGIN { printf "%.2f", a / b }')" \
      "$(awk -v a="${cpu[$n]}" -v b="${cpu[fl]}" 'BEGIN { printf "%.2f", a / b }')"
  done
  # Amdahl: T(n) = T1 (s + (1 - s) / n), s from the one-core and all-core times of one synth
  # (its voice threads follow the cores; the reverb and chorus are its serial share).
  awk -v l="${load%% *}" -v c="$cores" 'BEGIN { if (l > c / 2) print "note: other work holds the cores (load " l "): the lanes share them, so their wall time and the projection say little" }'
  printf 'projection for one song on N cores (Amdahl, serial share %s):' "$(awk -v t1="${wall[k1]}" -v tn="${wall[kn]}" -v c="$cores" 'BEGIN { s = (tn / t1 - 1 / c) / (1 - 1 / c); if (s < 0) s = 0; if (s > 1) s = 1; printf "%.2f", s }')"
  for n in 4 8 16; do
    printf ' %s cores %ss (%sx fl)' "$n" \
      "$(awk -v t1="${wall[k1]}" -v tn="${wall[kn]}" -v c="$cores" -v n="$n" 'BEGIN {
         s = (tn / t1 - 1 / c) / (1 - 1 / c); if (s < 0) s = 0; if (s > 1) s = 1; printf "%.2f", t1 * (s + (1 - s) / n) }')" \
      "$(awk -v t1="${wall[k1]}" -v tn="${wall[kn]}" -v c="$cores" -v n="$n" -v f="${wall[fl]}" 'BEGIN {
         s = (tn / t1 - 1 / c) / (1 - 1 / c); if (s < 0) s = 0; if (s > 1) s = 1; printf "%.2f", t1 * (s + (1 - s) / n) / f }')"
  done
  echo
}

# Duration of a WAVE file in seconds (0 when unreadable).
seconds() { soxi -D "$1" 2>/dev/null || echo 0; }

if [ "$runs" -gt 0 ]; then
  single "$@"
  exit
fi

printf '%-34s %10s %10s %10s %8s %8s | %9s %9s %9s\n' file "korv s" "fluid s" "timid s" "fl/korv" "ti/korv" "korv MB" "fluid MB" "timid MB"
for mid in "$@"; do
  name=$(basename "$mid")
  read -r k_s k_kb < <(measure "$mci" "$work/k.wav" "$mid")
  read -r f_s f_kb < <(measure fluidsynth -ni -q -F "$work/f.wav" -r 44100 "$sf2" "$mid")
  read -r t_s t_kb < <(measure timidity -Ow -o "$work/t.wav" -s 44100 -x "soundfont $sf2" "$mid")
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
  printf '%-34s %10s %10s %10s %8s %8s | %9.1f %9.1f %9.1f\n' "${name:0:34}" "$k_s" "$f_s" "$t_s" \
    "$(ratio "$f_s" "$k_s")" "$(ratio "$t_s" "$k_s")" \
    "$(awk -v k="$k_kb" 'BEGIN{print k/1024}')" "$(awk -v k="$f_kb" 'BEGIN{print k/1024}')" "$(awk -v k="$t_kb" 'BEGIN{print k/1024}')"
  printf '%-34s audio: korv %ss, fluid %ss, timid %ss\n' "" "$(seconds "$work/k.wav")" "$(seconds "$work/f.wav")" "$(seconds "$work/t.wav")"
done
