#!/usr/bin/env bash
# Korvessa's performance targets, each measured side by side with its anchor in the same run
# (the machine may be shared: compare the ratios, not the seconds). Prints one table.
#
#   bench/perf.sh [-b BUILD_DIR] [-s SOUNDFONT] [-l SONG_SECONDS] [-R]
#
#   -l  length of the song of the speed rows (default 602 s)
#   -R  also measure the click track in real-time recording (takes the track's full length)
#
# Rows: wav speed (against timidity -Ow and fluidsynth -F), mp3 speed (against fluidsynth -F
# followed by lame -q 5 -b 128), click timing over 60 minutes, peak memory for a 1- and a 60-minute
# song, the window's start-up with the 148 MB SoundFont. -j N: bench/workers.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build
sf2=/usr/share/sounds/sf2/TimGM6mb.sf2
bigsf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
song_s=602
realtime=0
while getopts "b:s:l:R" opt; do
  case $opt in
    b) build=$OPTARG ;;
    s) sf2=$OPTARG ;;
    l) song_s=$OPTARG ;;
    R) realtime=1 ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
  esac
done
for tool in fluidsynth timidity lame soxi xvfb-run xdotool g++ python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "perf.sh: $tool is missing" >&2; exit 1; }
done
[ -f "$sf2" ] || { echo "perf.sh: no SoundFont $sf2" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cmake --build "$build" --target korvessa Dorvanti gogo.dll >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
kv=$build/bin/korvessa
g++ -O2 -std=c++20 -o "$work/onsets" "$here/onsets.cpp"

# The recorder's system setup for this run: the bench SoundFont, fast recording, synth mix.
export KORVESSA_SYSTEM_INI=$work/system.ini
printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$sf2" >"$KORVESSA_SYSTEM_INI"
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}

gen() { python3 "$here/make_midi.py" "$@"; }
gen song "$song_s" "$work/song.mid"
gen song 60 "$work/song1m.mid"
gen song 3600 "$work/song60m.mid"
gen click 3600 "$work/click60m.mid"

# Runs a command under GNU time; prints "seconds kilobytes". A failure is reported, not hidden.
measure() {
  local t=$work/time.txt
  if ! /usr/bin/time -f '%e %M' -o "$t" "$@" >"$work/out.log" 2>&1; then
    echo "perf.sh: failed: $*" >&2
    sed 's/^/  /' "$work/out.log" >&2
  fi
  tail -n 1 "$t"
}
fresh() { rm -rf "$work/out" && mkdir -p "$work/out"; }
conv=("$kv" convert --out "$work/out" --delay 0 --sample 120)  # fast recording, 44.1 kHz 16-bit stereo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
verdict() { awk -v r="$1" -v l="$2" 'BEGIN { print (r != "-" && r <= l) ? "met" : "MISSED" }'; }
row() { printf '%-38s %12s %12s %7s %7s  %s\n' "$@"; }

row target ours anchor ratio limit result
row ------ ---- ------ ----- ----- ------

# 1. wav speed
fresh
read -r k_s _ < <(measure "${conv[@]}" --format wav "$work/song.mid")
k_len=$(soxi -D "$work/out/song.wav" 2>/dev/null || echo 0)
read -r t_s _ < <(measure timidity -Ow -o "$work/t.wav" -s 44100 -x "soundfont $sf2" "$work/song.mid")
read -r f_s _ < <(measure fluidsynth -ni -q -F "$work/f.wav" -r 44100 "$sf2" "$work/song.mid")
r=$(ratio "$k_s" "$t_s"); row "wav ${song_s}s vs timidity -Ow (s)" "$k_s" "$t_s" "$r" 1.0 "$(verdict "$r" 1.0)"
r=$(ratio "$k_s" "$f_s"); row "wav ${song_s}s vs fluidsynth -F (s)" "$k_s" "$f_s" "$r" 0.8 "$(verdict "$r" 0.8)"

# 2. mp3 speed: GoGo (encoding while it records) against fluidsynth -F then lame at GoGo's
# quality; bench/one_song_mp3.sh takes the median of paired runs
fresh
read -r m_s _ < <(measure "${conv[@]}" --format mp3 --encoder gogo "$work/song.mid")
read -r l_s _ < <(measure lame --quiet -q 5 -b 128 "$work/f.wav" "$work/f.mp3")
fl=$(awk -v a="$f_s" -v b="$l_s" 'BEGIN { printf "%.2f", a + b }')
r=$(ratio "$m_s" "$fl"); row "mp3 ${song_s}s vs fluidsynth+lame (s)" "$m_s" "$fl" "$r" 0.6 "$(verdict "$r" 0.6)"
[ -s "$work/out/song.mp3" ] || echo "perf.sh: no MP3 was written" >&2

# 3. click timing over 60 minutes: deviation from the ideal grid, limit one synth block
fresh
"${conv[@]}" --format wav "$work/click60m.mid" >/dev/null 2>&1 || echo "perf.sh: click track not converted" >&2
read -r line < <("$work/onsets" "$work/out/click60m.wav" 0.5 1.0 || echo "hits=0")
dev=$(sed -n 's/.*max_dev_samples=-\{0,1\}\([0-9]*\).*/\1/p' <<<"$line")
hits=$(sed -n 's/^hits=\([0-9]*\) expected=\([0-9]*\).*/\1\/\2/p' <<<"$line")
ok=$(awk -v d="${dev:-999}" -v h="$hits" 'BEGIN { split(h, p, "/"); print (d <= 64 && p[1] == p[2] && p[1] > 0) ? "met" : "MISSED" }')
row "click 60min fast: max dev (samples)" "${dev:--}" "hits $hits" - 64 "$ok"
if [ "$realtime" = 1 ]; then
  fresh
  "${conv[@]}" --format wav --realtime "$work/click60m.mid" >/dev/null 2>&1 || echo "perf.sh: real-time click not converted" >&2
  read -r line < <("$work/onsets" "$work/out/click60m.wav" 0.5 1.0 || echo "hits=0")
  dev=$(sed -n 's/.*max_dev_samples=-\{0,1\}\([0-9]*\).*/\1/p' <<<"$line")
  hits=$(sed -n 's/^hits=\([0-9]*\) expected=\([0-9]*\).*/\1\/\2/p' <<<"$line")
  ok=$(awk -v d="${dev:-999}" -v h="$hits" 'BEGIN { split(h, p, "/"); print (d <= 64 && p[1] == p[2] && p[1] > 0) ? "met" : "MISSED" }')
  row "click 60min real time: max dev (samp)" "${dev:--}" "hits $hits" - 64 "$ok"
fi

# 4. peak memory, 1 and 60 minutes, against the SoundFont's size + 60 MB
sf_mb=$(awk -v b="$(stat -c %s "$sf2")" 'BEGIN { printf "%.1f", b / 1048576 }')
limit_mb=$(awk -v s="$sf_mb" 'BEGIN { printf "%.1f", s + 60 }')
for m in 1m 60m; do
  fresh
  read -r _ kb < <(measure "${conv[@]}" --format wav "$work/song$m.mid")
  mb=$(awk -v k="$kb" 'BEGIN { printf "%.1f", k / 1024 }')
  row "peak memory, ${m} song (MB)" "$mb" "sf $sf_mb" "-" "$limit_mb" \
    "$(awk -v a="$mb" -v l="$limit_mb" 'BEGIN { print a <= l ? "met" : "MISSED" }')"
done

# 5. the window shows in under a second with the 148 MB SoundFont configured
if [ -f "$bigsf2" ]; then
  big=$work/big.ini
  printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$bigsf2" >"$big"
  cat >"$work/window.sh" <<'EOF'
start=$(date +%s.%N)
QT_QPA_PLATFORM=xcb KORVESSA_SYSTEM_INI=$1 "$2" >/dev/null 2>&1 &
pid=$!
timeout 20 xdotool search --sync --onlyvisible --name Korvessa >/dev/null 2>&1 || true
end=$(date +%s.%N)
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }'
EOF
  # The first start warms the file cache, as a user's second start would find it.
  xvfb-run -a bash "$work/window.sh" "$big" "$build/bin/Dorvanti" >/dev/null 2>&1 || true
  w_s=$(xvfb-run -a bash "$work/window.sh" "$big" "$build/bin/Dorvanti" 2>/dev/null || echo 99)
  row "window shown, FluidR3_GM configured (s)" "$w_s" - - 1.0 "$(verdict "$w_s" 1.0)"
fi

echo "audio: ours ${k_len}s, fluidsynth $(soxi -D "$work/f.wav" 2>/dev/null)s, timidity $(soxi -D "$work/t.wav" 2>/dev/null)s; load $(cut -d' ' -f1-3 /proc/loadavg)"
