#!/usr/bin/env bash
# build.sh <dir> [cmake options...]: configures and builds one build tree.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: tools/build.sh <build dir> [cmake options...]" >&2
  echo "  e.g. tools/build.sh build/release -DCMAKE_BUILD_TYPE=Release" >&2
  echo "       tools/build.sh build/asan -DZOLT_SANITIZE=address" >&2
  exit 2
fi
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
