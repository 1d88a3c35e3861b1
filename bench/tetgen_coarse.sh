#!/usr/bin/env bash
# TetGen's example part at three sizes, LEVEL 1 and 2, through
# zolt_bench_sparse_coarse. Meshes and caches go to a temporary directory.
#   bench/tetgen_coarse.sh [build dir (default build/release)] [repeats (default 5)]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/release}")
repeats=${2:-5}
poly=$(ls /usr/share/doc/tetgen/examples/example.poly* | head -1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/models"
models=()
for a in 0.01 0.002 0.0005; do
  base=example${a#0.}
  if [[ $poly == *.gz ]]; then zcat "$poly" > "$work/$base.poly"; else cp "$poly" "$work/$base.poly"; fi
  tetgen -pq1.4a${a}AQ -B "$work/$base.poly"
  for level in 1 2; do
    cp "$work/$base.1.node" "$work/models/${base}_L$level.node"
    cp "$work/$base.1.ele" "$work/models/${base}_L$level.ele"
    printf 'TETRAHEDRON\nLEVEL %d\nMATERIAL 1e6 0.3 1000 2 2 0.05\n' "$level" \
      > "$work/models/${base}_L$level.config"
    models+=("${base}_L$level")
  done
done
"$build/bench/zolt_bench_sparse_coarse" "$work/models" "$work/caches" "$repeats" "${models[@]}"
