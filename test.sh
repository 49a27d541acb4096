#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the whole test suite.
# The exit code is the verdict.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_install_missing
kv_build build
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 900
