#!/usr/bin/env bash
# korvessa convert -j N: worker threads of one process, each with its own synthesizer on the one
# loaded SoundFont, against process workers (one korvessa per worker over its interleaved share
# of the files, each loading its own SoundFont: how -j N used to run), in the same run.
#
#   bench/workers.sh [-b BUILD_DIR] [-n FILES] [-l SONG_SECONDS] [-r REPEATS] [-p PARTS] [-f FORMATS]
#
# Part "soundfonts": for TimGM6mb and FluidR3_GM (package fluid-soundfont-gm), on FILES songs
# (default 20 of 30 s) recorded to WAVE: wall time, speed-up against -j 1, peak RSS (process
# workers: the sum of their peaks) and whether every recording holds the samples of the -j 1
# one up to its song's end. Targets: speed-up >= 0.9 N for N up to the core count; peak RSS of
# -j 2 with FluidR3_GM <= its size + 2 x 70 MB. Each row keeps its best time.
# Part "formats": with TimGM6mb, every output format (wav mp3 wma flac opus), as it is, with
# --normalize and with --loudness -16: -j 1 against -j N (N = the core count), each pair run
# back to back; the speed-up is the median of the pairs' ratios, the times their medians; and
# whether every output of -j N equals the -j 1 one byte for byte. Target: speed-up >= 0.9 N.
# MP3 without a filter is encoded while it renders, so -j 1 already keeps more than one core
# busy (j1_cores = its CPU time / wall time) and its wall time is no one-core baseline: there
# the target is the work speed-up (-j 1's CPU time / -j N's wall time) >= 0.9 N: -j N does N
# cores' worth of -j 1's work at once.
# PARTS (default "soundfonts formats") chooses the parts, FORMATS (default all) the formats.
# The machine may be shared: the modes take turns REPEATS times (default 3), and the load is
# printed with each table.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build
files=20
song_s=30
repeats=3
parts="soundfonts formats"
format_list="wav mp3 wma flac opus"
while getopts "b:n:l:r:p:f:" opt; do
  case $opt in
    b) build=$OPTARG ;;
    n) files=$OPTARG ;;
    l) song_s=$OPTARG ;;
    r) repeats=$OPTARG ;;
    p) parts=$OPTARG ;;
    f) format_list=$OPTARG ;;
    *) sed -n '2,24p' "$0" >&2; exit 2 ;;
  esac
done
for tool in g++ python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "workers.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target korvessa kv_gogo vbwav2wma korvessa_formats kv_waveflt >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
kv=$build/bin/korvessa
g++ -O2 -std=c++20 -o "$work/same" "$here/same_samples.cpp"
mkdir -p "$work/songs"
for i in $(seq -w 1 "$files"); do python3 "$here/make_midi.py" song "$song_s" "$work/songs/piece$i.mid"; done
songs=("$work"/songs/*.mid)
cores=$(nproc)
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
conv=(convert --delay 0 --sample 120 --format wav)  # fast recording, 44.1 kHz 16-bit stereo

# Runs korvessa under GNU time into $work/$1; prints "seconds kilobytes cpu-seconds".
threads() {
  local out=$work/$1 t=$work/time.txt
  shift
  mkdir -p "$out"
  /usr/bin/time -f '%e %M %U %S' -o "$t" "$kv" "${conv[@]}" --out "$out" "$@" >"$work/log" 2>&1 ||
    { echo "workers.sh: failed: $*" >&2; sed 's/^/  /' "$work/log" >&2; }
  tail -n 1 "$t" | awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }'
}

# N process workers into $work/$1, each over every N-th file; prints "seconds summed-kilobytes".
processes() {
  local out=$work/$1 n=$2 k pids=()
  mkdir -p "$out"
  local start=$(date +%s.%N)
  for ((k = 0; k < n; k++)); do
    local part=()
    for ((i = k; i < ${#songs[@]}; i += n)); do part+=("${songs[i]}"); done
    /usr/bin/time -f '%M' -o "$work/rss$k" "$kv" "${conv[@]}" --out "$out" -j 1 -- "${part[@]}" >/dev/null 2>&1 &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || echo "workers.sh: a process worker failed" >&2; done
  local end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f ", b - a }'
  cat "$work"/rss* | awk '{ s += $1 } END { print s }'
  rm -f "$work"/rss*
}

# Recordings in $work/$1 that hold the samples of $work/t1 up to the song's end; prints "same/total".
identical() {
  local same=0 f
  for f in "$work"/t1/*.wav; do
    "$work/same" "$f" "$work/$1/$(basename "$f")" "$(awk -v s="$song_s" 'BEGIN { print s - 0.1 }')" >/dev/null && same=$((same + 1))
  done
  echo "$same/${#songs[@]}"
}

row() { printf '%-12s %-10s %8s %8s %9s %10s %10s  %s\n' "$@"; }
soundfonts() {
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), cores $cores, $files songs of ${song_s} s"
  row soundfont mode time_s speedup rss_MB rss_limit identical result
  for sf2 in /usr/share/sounds/sf2/TimGM6mb.sf2 /usr/share/sounds/sf2/FluidR3_GM.sf2; do
    [ -f "$sf2" ] || { echo "workers.sh: no $sf2" >&2; continue; }
    export KORVESSA_SYSTEM_INI=$work/system.ini
    printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$sf2" >"$KORVESSA_SYSTEM_INI"
    name=$(basename "$sf2" .sf2)
    sf_mb=$(awk -v b="$(stat -c %s "$sf2")" 'BEGIN { printf "%.1f", b / 1048576 }')
    modes=("threads 1")
    for ((n = 2; n <= cores; n++)); do modes+=("threads $n" "processes $n"); done
    declare -A best=() rss=() same=()
    for ((r = 0; r < repeats; r++)); do
      for m in "${modes[@]}"; do
        n=${m#* }
        dir=${m:0:1}$n  # t1, t2, p2, ...
        rm -rf "${work:?}/$dir"
        if [ "${m% *}" = threads ]; then read -r t kb _ < <(threads "$dir" -j "$n" "${songs[@]}")
        else read -r t kb < <(processes "$dir" "$n"); fi
        best[$m]=$(awk -v a="$t" -v b="${best[$m]:-}" 'BEGIN { print (b == "" || a < b) ? a : b }')
        rss[$m]=$(awk -v a="$kb" -v b="${rss[$m]:-0}" 'BEGIN { print (a > b) ? a : b }')
        [ "$dir" = t1 ] || same[$m]=$(identical "$dir")
      done
    done
    for m in "${modes[@]}"; do
      n=${m#* }
      sp=$(awk -v a="${best[threads 1]}" -v b="${best[$m]}" 'BEGIN { printf "%.2f", a / b }')
      mb=$(awk -v k="${rss[$m]}" 'BEGIN { printf "%.1f", k / 1024 }')
      if [ "$n" = 1 ]; then row "$name" "$m" "${best[$m]}" "$sp" "$mb" - - -; continue; fi
      limit=$(awk -v s="$sf_mb" -v n="$n" 'BEGIN { printf "%.1f", s + n * 70 }')
      ok=$(awk -v s="$sp" -v n="$n" -v m="$mb" -v l="$limit" -v same="${same[$m]}" -v f="$files" \
        'BEGIN { print (s >= 0.9 * n && m <= l && same == f "/" f) ? "met" : "MISSED" }')
      row "$name" "$m" "${best[$m]}" "$sp" "$mb" "$limit" "${same[$m]}" "$ok"
    done
    unset best rss same
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Outputs in $work/$2 (format $1) equal byte for byte to those in $work/$3; prints "same/total".
bytes_identical() {
  local same=0 f
  for f in "$work/$3"/*."$1"; do cmp -s "$f" "$work/$2/$(basename "$f")" && same=$((same + 1)); done
  echo "$same/${#songs[@]}"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

formats() {
  local sf2=/usr/share/sounds/sf2/TimGM6mb.sf2 n=$cores fmt filter r t1 tn kb
  [ -f "$sf2" ] || { echo "workers.sh: no $sf2" >&2; return; }
  export KORVESSA_SYSTEM_INI=$work/system.ini
  printf '[Setup]\nSoundFont=%s\nSource=synth\nFast=1\nVolume=100\n' "$sf2" >"$KORVESSA_SYSTEM_INI"
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg), cores $cores, $files songs of ${song_s} s, TimGM6mb, -j 1 against -j $n"
  printf '%-6s %-14s %8s %8s %8s %8s %8s %10s  %s\n' format filter j1_s "j${n}_s" j1_cores speedup work_sp identical result
  for fmt in $format_list; do
    for filter in none --normalize "--loudness -16"; do
      local opts=(--format "$fmt") more=()
      if [ "$filter" != none ]; then read -ra more <<<"$filter"; opts+=("${more[@]}"); fi
      : >"$work/t1s"; : >"$work/tns"; : >"$work/ratios"; : >"$work/cores1"; : >"$work/work"
      for ((r = 0; r < repeats; r++)); do
        rm -rf "${work:?}/f1" "${work:?}/fn"
        read -r t1 kb c1 < <(threads f1 -j 1 "${opts[@]}" -- "${songs[@]}")
        read -r tn kb cn < <(threads fn -j "$n" "${opts[@]}" -- "${songs[@]}")
        echo "$t1" >>"$work/t1s"; echo "$tn" >>"$work/tns"
        awk -v a="$t1" -v b="$tn" 'BEGIN { print a / b }' >>"$work/ratios"
        awk -v c="$c1" -v a="$t1" 'BEGIN { print c / a }' >>"$work/cores1"
        awk -v c="$c1" -v b="$tn" 'BEGIN { print c / b }' >>"$work/work"
      done
      local sp same c1s ws
      sp=$(median <"$work/ratios")
      c1s=$(median <"$work/cores1")
      ws=$(median <"$work/work")
      same=$(bytes_identical "$fmt" fn f1)
      printf '%-6s %-14s %8.2f %8.2f %8.2f %8.2f %8.2f %10s  %s\n' "$fmt" "$filter" "$(median <"$work/t1s")" "$(median <"$work/tns")" \
        "$c1s" "$sp" "$ws" "$same" \
        "$(awk -v s="$sp" -v c="$c1s" -v w="$ws" -v n="$n" -v same="$same" -v f="$files" 'BEGIN {
           ok = s >= 0.9 * n || (c > 1.2 && w >= 0.9 * n)
           print (ok && same == f "/" f) ? "met" : "MISSED" }')"
    done
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
}

for part in $parts; do
  case $part in
    soundfonts) soundfonts ;;
    formats) formats ;;
    *) echo "workers.sh: no part $part" >&2; exit 2 ;;
  esac
done
