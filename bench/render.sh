#!/usr/bin/env bash
# Renders the same MIDI files with Korvessa's recorder (fast mode, through the media control
# commands), fluidsynth -F and timidity -Ow, all at 44.1 kHz with the same SoundFont, and prints
# wall time and peak memory side by side with ratios against Korvessa.
#
#   bench/render.sh [-s SOUNDFONT] [-b BUILD_DIR] [FILE.mid ...]
#
# Default SoundFont: TimGM6mb.sf2; default files: the longest pieces of the test corpus.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
sf2=/usr/share/sounds/sf2/TimGM6mb.sf2
build=$root/build
while getopts "s:b:" opt; do
  case $opt in
    s) sf2=$OPTARG ;;
    b) build=$OPTARG ;;
    *) echo "usage: $0 [-s SOUNDFONT] [-b BUILD_DIR] [FILE.mid ...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

corpus=$root/tests/data/midi/jazz-soft-test-midi-files
if [ $# -eq 0 ]; then
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

# Duration of a WAVE file in seconds (0 when unreadable).
seconds() { soxi -D "$1" 2>/dev/null || echo 0; }

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
