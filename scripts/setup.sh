#!/usr/bin/env bash
# Shared by run.sh and test.sh: install what is missing, then configure and build into build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

KV_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  libfluidsynth-dev libasound2-dev libsndfile1-dev libmp3lame-dev
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
  libebur128-dev
  libgtest-dev
  fonts-ipafont-gothic fluid-soundfont-gm timgm6mb-soundfont
  xvfb xauth sox ffmpeg xdg-utils parallel
  qt6-translations-l10n
  openbox x11-utils xdotool wmctrl libglib2.0-bin shared-mime-info
  pulseaudio pulseaudio-utils libasound2-plugins
  slurm-wlm munge jq
)

kv_install_missing() {
  local missing=() p
  for p in "${KV_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local cmd="apt-get install -y --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Korvessa needs these Debian packages. Run as root:" >&2
    echo "  apt-get update && $cmd" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  $cmd >/dev/null
}

kv_build() {
  local dir=${1:-build}; shift || true
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  fi
  cmake --build "$dir" -j"$(nproc)"
}
