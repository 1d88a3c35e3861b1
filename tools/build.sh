#!/usr/bin/env bash
# build.sh <dir> [cmake options...]: configures and builds one build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
