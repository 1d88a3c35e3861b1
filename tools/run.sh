#!/usr/bin/env bash
# Installs dependencies, builds Zolt and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
bash tools/build.sh build/release -DCMAKE_BUILD_TYPE=Release
exec build/release/src/app/zolt "$@"
