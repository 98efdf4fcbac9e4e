#!/bin/bash
# A large single-fit input for the tool's memory and time figures: ROWS rows (default 10^7) of
# one Gauss peak on a baseline with noise, x,y (about 260 MB for 10^7 rows).
#   bench/make_rows.sh OUT.csv [ROWS]
set -euo pipefail
out=${1:?usage: make_rows.sh OUT.csv [ROWS]}
rows=${2:-10000000}
awk -v n="$rows" 'BEGIN { srand(7); print "x,y"
  for (i = 0; i < n; ++i) { x = i * 20.0 / n; u = rand(); if (u < 1e-12) u = 1e-12
    printf "%.9f,%.9g\n", x, 1.5 + 8 * exp(-2 * ((x - 9) / 1.7) ^ 2) / (1.7 * 1.2533141373155) + 0.05 * sqrt(-2 * log(u)) * cos(6.283185307179586 * rand()) } }' > "$out"
