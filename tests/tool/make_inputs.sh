#!/usr/bin/env bash
# Writes the command-line cases' inputs that are too big to keep in the repository into the
# folder named: a 50 MB comment line, a 9 MB data line, 10^4 and 10^6 columns, 10^6 rows, a NUL
# byte and binary garbage, a surface on a fine grid. The same bytes on every run (fixed seeds).
set -euo pipefail
out=$1
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
mkdir -p "$out"
cd "$out"
# Made once per version of this script: the stamp holds the script's checksum.
sum=$(cksum < "$script")
[ -f .done ] && [ "$(cat .done)" = "$sum" ] && exit 0

# x,y, one 50 MB comment line, three data rows: a long comment is skipped, not held.
{ echo "x,y"; printf '#'; head -c 50000000 /dev/zero | tr '\0' 'c'; printf '\n1,2\n2,4.1\n3,5.9\n'; } > long_comment.csv
# A 9 MB data line, beyond the longest line read.
{ echo "x,y"; head -c 9000000 /dev/zero | tr '\0' '7'; printf ',1\n'; } > long_line.csv
# 10^4 named columns, three rows.
awk 'BEGIN { n = 10000
  for (i = 1; i <= n; i++) printf "%sc%d", (i > 1 ? "," : ""), i; print ""
  for (r = 1; r <= 3; r++) { for (i = 1; i <= n; i++) printf "%s%d", (i > 1 ? "," : ""), r; print "" } }' > wide_1e4.csv
# Three rows of 10^6 columns each (2 MB a line), no header.
for r in 1 2 3; do printf '%d' "$r"; (yes ',1' || :) | head -n 999999 | tr -d '\n'; echo; done > wide_1e6.csv
# 10^6 rows of a straight line with N(0, 1e-3) noise: x = i*1e-4, y = 3 + 2e-4*i + noise.
awk 'BEGIN { srand(1); print "x,y"
  for (i = 0; i < 1000000; i++) {
    u = rand(); if (u < 1e-12) u = 1e-12
    printf "%.4f,%.7g\n", i * 1e-4, 3 + 2e-4 * i + 1e-3 * sqrt(-2 * log(u)) * cos(6.283185307179586 * rand()) } }' > rows_1e6.csv
# A NUL byte in the third line.
printf 'x,y\n1,2\n3\0,4\n5,6\n' > nul.csv
# 64 KB of bytes 1..255 (no NUL), from a linear congruential sequence.
awk 'BEGIN { s = 12345; for (i = 0; i < 65536; i++) { s = (s * 1103515245 + 12345) % 2147483648; printf "%c", 1 + int(s / 65536) % 255 } }' > garbage.bin
# A Gauss2D surface on a 400 x 50 grid: too fine to draw as cells.
awk 'BEGIN { print "x1,x2,z"
  for (i = 0; i < 400; i++) for (j = 0; j < 50; j++) {
    x = -3 + 6 * i / 399; y = -3 + 6 * j / 49
    printf "%.5f,%.5f,%.6f\n", x, y, 0.5 + 3 * exp(-x * x / 2 - y * y / 2) + 0.01 * sin(7 * i + 3 * j) } }' > grid_400x50.csv
echo "$sum" > .done
