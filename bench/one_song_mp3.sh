#!/usr/bin/env bash
# One song to MP3: korvessa convert (GoGo, the encoder fed while the song records) against
# fluidsynth -F followed by lame at the same LAME quality and bit rate (-q 5 -b 128), same
# SoundFont, 44.1 kHz 16-bit stereo, no delay. The two take turns PAIRS times (which goes
# first alternates); each pair gives a ratio, and the table ends with the medians. Target:
# median ratio <= 0.6. The machine may be shared: the load is printed with the table.
#
#   bench/one_song_mp3.sh [-b BUILD_DIR] [-s SOUNDFONT] [-l SONG_SECONDS] [-r PAIRS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(dirname "$here")/build
sf2=/usr/share/sounds/sf2/TimGM6mb.sf2
song_s=602
pairs=5
while getopts "b:s:l:r:" opt; do
  case $opt in
    b) build=$OPTARG ;;
    s) sf2=$OPTARG ;;
    l) song_s=$OPTARG ;;
    r) pairs=$OPTARG ;;
    *) sed -n '2,8p' "$0" >&2; exit 2 ;;
  esac
done
for tool in fluidsynth lame python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "one_song_mp3.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target korvessa kv_gogo >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
kv=$build/bin/korvessa
python3 "$here/make_midi.py" song "$song_s" "$work/song.mid"
export KORVESSA_SYSTEM_INI=$work/system.ini QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$sf2" >"$KORVESSA_SYSTEM_INI"

# Wall seconds of a command; a failure stops the bench.
seconds() {
  /usr/bin/time -f '%e' -o "$work/time" "$@" >"$work/log" 2>&1 ||
    { echo "one_song_mp3.sh: failed: $*" >&2; sed 's/^/  /' "$work/log" >&2; exit 1; }
  cat "$work/time"
}
ours() {
  rm -rf "$work/out"
  seconds "$kv" convert --out "$work/out" --delay 0 --sample 120 --format mp3 --encoder gogo "$work/song.mid"
  [ -s "$work/out/song.mp3" ] || { echo "one_song_mp3.sh: no MP3 was written" >&2; exit 1; }
}
theirs() {
  local f l
  f=$(seconds fluidsynth -ni -q -F "$work/f.wav" -r 44100 "$sf2" "$work/song.mid")
  l=$(seconds lame --quiet -q 5 -b 128 "$work/f.wav" "$work/f.mp3")
  awk -v a="$f" -v b="$l" 'BEGIN { printf "%.2f", a + b }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-5s %10s %22s %7s\n' pair korvessa "fluidsynth -F + lame" ratio
: >"$work/rows"
for ((i = 1; i <= pairs; i++)); do
  if ((i % 2)); then k=$(ours); t=$(theirs); else t=$(theirs); k=$(ours); fi
  r=$(awk -v a="$k" -v b="$t" 'BEGIN { printf "%.2f", a / b }')
  printf '%-5s %10s %22s %7s\n' "$i" "$k" "$t" "$r"
  echo "$k $t $r" >>"$work/rows"
done
km=$(cut -d' ' -f1 "$work/rows" | median) tm=$(cut -d' ' -f2 "$work/rows" | median) rm=$(cut -d' ' -f3 "$work/rows" | median)
printf '%-5s %10s %22s %7s   (%s s song; target <= 0.6; load %s)\n' median "$km" "$tm" "$rm" "$song_s" "$(cut -d' ' -f1-3 /proc/loadavg)"
