#!/usr/bin/env bash
# Installs dependencies, builds Zolt with its sample models and runs it in
# the generated working directory (build/release/run/bin: ZOLT.init there
# names ../models/, ../caches/ and ../movies/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target zolt
cd build/release/run/bin
exec ../../src/app/zolt "$@"
