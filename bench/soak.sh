#!/usr/bin/env bash
# Long-batch soak: 100 songs of mixed length (5 s to 120 s) through one "korvessa convert" run,
# once to WAVE and once to MP3. Every output is checked (format, length, not silent) and the
# process's memory (RSS), open file descriptors and threads are sampled after each file.
#
#   bench/soak.sh [BUILD_DIR] [FILES]     BUILD_DIR defaults to build, FILES to 100
#
# Flat means: RSS at the last file within SOAK_RSS_MB (default 8) MB of RSS at file 10, and the
# same number of descriptors and threads. Exit code 0 when both runs pass.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
count=${2:-100}
[[ $build = /* ]] || build=$here/$build
korvessa=$build/bin/korvessa
rss_margin_mb=${SOAK_RSS_MB:-8}
[ -x "$korvessa" ] || { echo "soak: $korvessa not built" >&2; exit 2; }
for tool in python3 ffprobe ffmpeg; do
  command -v $tool >/dev/null || { echo "soak: $tool is needed" >&2; exit 2; }
done

work=$(mktemp -d /tmp/korvessa-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
printf '[Setup]\nSoundFont=/usr/share/sounds/sf2/TimGM6mb.sf2\nSource=synth\nFast=1\nVolume=100\n' >"$work/system.ini"
export KORVESSA_SYSTEM_INI=$work/system.ini

# Lengths 5..120 s in a fixed shuffled order, so short and long songs alternate.
files=()
for i in $(seq 1 "$count"); do
  secs=$(( 5 + (i * 37) % 116 ))
  name=$(printf 'song%03d-%03ds.mid' "$i" "$secs")
  python3 "$here/bench/make_midi.py" song "$secs" "$work/in/$name" || exit 2
  files+=("$work/in/$name")
done
total_audio=$(for f in "${files[@]}"; do n=${f##*-}; echo "${n%s.mid}"; done | awk '{s+=$1} END {print s}')
echo "soak: $count songs, $total_audio s of music, SoundFont TimGM6mb.sf2, fast recording"

# Samples /proc/PID each time another output has appeared: "file rss_kB fds threads".
sample_run() {  # format outdir log
  local format=$1 out=$2 log=$3 pid done=0 n
  mkdir -p "$out"
  : >"$log"
  "$korvessa" convert --format "$format" --delay 0 --out "$out" "${files[@]}" \
    >"$out.stdout" 2>"$out.stderr" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    n=$(find "$out" -maxdepth 1 -name "*.$format" | wc -l)
    if [ "$n" -gt "$done" ] && [ -r "/proc/$pid/status" ]; then
      done=$n
      rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
      threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status" 2>/dev/null)
      fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
      [ -n "$rss" ] && echo "$n $rss $fds $threads" >>"$log"
    fi
    sleep 0.05
  done
  wait "$pid"
}

# Checks every output: codec, length against the song, not silent. Prints failures.
verify() {  # format outdir
  local format=$1 out=$2 bad=0 f base secs dur maxvol codec want
  for f in "${files[@]}"; do
    base=$(basename "$f" .mid)
    secs=${base##*-}; secs=${secs%s}
    local o=$out/$base.$format
    if [ ! -f "$o" ]; then echo "  missing: $base.$format"; bad=$((bad + 1)); continue; fi
    codec=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 "$o")
    dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$o")
    maxvol=$(ffmpeg -hide_banner -nostats -i "$o" -af volumedetect -f null - 2>&1 | awk '/max_volume/ {print $5}')
    want=pcm_s16le; [ "$format" = mp3 ] && want=mp3
    # The band piece rings out a little after its last beat; MP3 adds encoder delay and padding.
    if [ "$codec" != "$want" ] || ! awk -v d="$dur" -v s="$secs" 'BEGIN {exit !(d >= s - 0.05 && d <= s + 3.0)}' ||
       ! awk -v v="$maxvol" 'BEGIN {exit !(v != "" && v > -30)}'; then
      echo "  bad: $base.$format codec=$codec duration=$dur (song ${secs} s) max_volume=${maxvol} dB"
      bad=$((bad + 1))
    fi
  done
  return $bad
}

report() {  # format log seconds
  local format=$1 log=$2
  echo "RSS curve ($format): file rss_MB fds threads"
  awk '{printf "  %3d %7.1f %4d %3d\n", $1, $2 / 1024, $3, $4}' "$log" | awk 'NR % 10 == 1 || NR <= 3'
  # Descriptors and threads depend on the phase a sample falls in (recording or encoding), so
  # the highest count of the first files after start-up is compared with that of the last ones.
  awk -v margin="$rss_margin_mb" '
    {n[NR] = $1; r[NR] = $2; f[NR] = $3; t[NR] = $4}
    $1 >= 10 && !i10 {i10 = NR}
    END {
      if (!i10 || NR < 12) {print "  too few samples"; exit 1}
      for (i = 3; i <= i10; ++i) {if (f[i] > fa) fa = f[i]; if (t[i] > ta) ta = t[i]}
      for (i = (NR - 9 > i10 ? NR - 9 : i10); i <= NR; ++i) {if (f[i] > fb) fb = f[i]; if (t[i] > tb) tb = t[i]}
      printf "  file %d: RSS %.1f MB, %d fds, %d threads (most in files 3-10: %d fds, %d threads)\n", n[i10], r[i10] / 1024, f[i10], t[i10], fa, ta
      printf "  file %d: RSS %.1f MB, %d fds, %d threads (most in the last 10: %d fds, %d threads)\n", n[NR], r[NR] / 1024, f[NR], t[NR], fb, tb
      flat = (r[NR] - r[i10]) / 1024 <= margin && fb <= fa && tb <= ta
      printf "  verdict: %s (RSS %+.1f MB from file %d to %d)\n", flat ? "flat" : "GROWING", (r[NR] - r[i10]) / 1024, n[i10], n[NR]
      exit !flat
    }' "$log"
}

status=0
for format in wav mp3; do
  out=$work/out-$format
  start=$(date +%s.%N)
  sample_run "$format" "$out" "$work/$format.samples"
  rc=$?
  end=$(date +%s.%N)
  secs=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}')
  echo "== $format: exit $rc, $secs s for $total_audio s of music ($(awk -v a="$total_audio" -v s="$secs" 'BEGIN {printf "%.0f", a / s}')x)"
  [ "$rc" -eq 0 ] || { status=1; sed 's/^/  /' "$out.stderr" | head -20; }
  report "$format" "$work/$format.samples" || status=1
  failures=$(verify "$format" "$out")
  nbad=$?
  echo "  outputs checked: $count, failed: $nbad"
  [ -n "$failures" ] && echo "$failures" | head -20
  [ "$nbad" -eq 0 ] || status=1
  leftovers=$(find "$out" -mindepth 1 ! -name "*.$format" | wc -l)
  echo "  other files left in the output folder: $leftovers"
  [ "$leftovers" -eq 0 ] || status=1
  rm -rf "$out"
done
exit $status
