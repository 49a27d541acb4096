#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into fuzz/build/.
# Usage: fuzz/build.sh [TARGET...]   (default: all targets)
# Separate from the CMake build on purpose: the program itself is built with g++.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/fuzz/build
ALL_TARGETS=(smf midinfo waveflt mp3wave wmawave sf2keys)

source scripts/setup.sh
kv_install_missing clang libclang-rt-14-dev

CXX=${CXX:-clang++}
SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CXXFLAGS="-std=c++20 -g -O1 -fPIC $SAN -I$ROOT -I$ROOT/platform -I$ROOT/components/mp3core -DKV_SOURCE_DIR=\"$ROOT\""
PKGS="fluidsynth alsa sndfile libavformat libavcodec libavutil libswresample Qt6Core libebur128"
CXXFLAGS="$CXXFLAGS $(pkg-config --cflags $PKGS)"
LIBS="$(pkg-config --libs $PKGS) -lmp3lame -lpthread -ldl"

mkdir -p "$OUT/obj"

# Compiles one source to an object with coverage instrumentation, when it changed.
obj() {  # obj SOURCE [extra flags...] -> prints the object path
  local src=$1; shift
  local o="$OUT/obj/$(echo "${src#$ROOT/}" | tr / _).o"
  if [ ! -f "$o" ] || [ "$src" -nt "$o" ] || [ "$0" -nt "$o" ]; then
    $CXX $CXXFLAGS -fsanitize=fuzzer-no-link -ffunction-sections -fdata-sections "$@" -c "$src" -o "$o" >&2
  fi
  echo "$o"
}

# Sets FN (the kvfuzz entry function) and SOURCES (what it is built from) for target $1.
target() {
  case $1 in
    smf)     FN=Smf       SOURCES="platform/smf_reader.cpp" ;;
    midinfo) FN=MidiInfo  SOURCES="midi/MIDInfo.cpp platform/textcodec.cpp app/Globals.cpp fuzz/media_stubs.cpp" ;;
    waveflt) FN=Waveflt   SOURCES="components/waveflt/waveflt.cpp components/waveflt/TruePeakLimiter.cpp platform/replacing_file.cpp platform/faultio.cpp" ;;
    mp3wave) FN=Mp3Wave   SOURCES="components/mp3core/WaveReader.cpp" ;;
    wmawave) FN=WmaWave   SOURCES="components/wmacore/WmaEncode.cpp platform/replacing_file.cpp platform/faultio.cpp platform/textcodec.cpp" ;;
    sf2keys) FN=Sf2Keys   SOURCES="platform/exclusive_keys.cpp" ;;
    *) echo "unknown fuzz target: $1" >&2; return 1 ;;
  esac
}

[ $# -gt 0 ] || set -- "${ALL_TARGETS[@]}"
for t in "$@"; do
  target "$t"
  objs=()
  for s in $SOURCES; do
    extra=()
    [ "$s" = components/waveflt/waveflt.cpp ] && extra=(-Dmain=WavefltMain)
    objs+=("$(obj "$ROOT/$s" "${extra[@]}")")
  done
  objs+=("$(obj "$ROOT/fuzz/targets/$t.cpp")" "$(obj "$ROOT/fuzz/targets/scratch.cpp")")
  $CXX $CXXFLAGS -fsanitize=fuzzer -DKV_FUZZ_FN="$FN" "$ROOT/fuzz/entry.cpp" "${objs[@]}" \
    -Wl,--gc-sections $LIBS -o "$OUT/fuzz_$t"
  echo "built $OUT/fuzz_$t"
done
