#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Korvessa.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
kv_install_missing
kv_build build
exec build/bin/Dorvanti "$@"
