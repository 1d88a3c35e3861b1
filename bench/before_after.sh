#!/usr/bin/env bash
# The step and V-cycle times of sample models from two build trees in one
# run, alternating, median of the repeats; the after/before ratio last.
#   bench/before_after.sh <before build dir> <after build dir> [repeats (5)] [model ...]
# Models default to groundDrop and bunnyLarge. Each tree runs its own
# zolt_bench_load_step from its own run/bin (its generated models).
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: bench/before_after.sh <before build dir> <after build dir> [repeats] [model ...]" >&2
  exit 2
fi
before=$(realpath "$1")
after=$(realpath "$2")
repeats=${3:-5}
shift $(($# < 3 ? $# : 3))
models=("$@")
[ ${#models[@]} -gt 0 ] || models=(groundDrop bunnyLarge)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for ((r = 0; r < repeats; ++r)); do
  for tree in before after; do
    dir=${!tree}
    (cd "$dir/run/bin" && ../../bench/zolt_bench_load_step "${models[@]}") |
      awk -v t="$tree" 'NR > 1 && NF == 9 { print t, $1, $5, $6 }' >> "$out"
  done
done
python3 - "$out" "${models[@]}" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
print(f"{'model':12} {'':7} {'before':>9} {'after':>9} {'ratio':>7}")
for m in sys.argv[2:]:
    for col, name in ((2, "step_ms"), (3, "vcycle_ms")):
        med = {t: statistics.median(float(r[col]) for r in rows if r[0] == t and r[1] == m)
               for t in ("before", "after")}
        print(f"{m:12} {name:9} {med['before']:9.3f} {med['after']:9.3f} "
              f"{med['after'] / med['before']:7.3f}")
EOF
