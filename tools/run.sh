#!/usr/bin/env bash
# Installs dependencies, builds Zolt and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target zolt
exec build/release/src/app/zolt "$@"
