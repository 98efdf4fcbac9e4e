#!/usr/bin/env bash
# Builds the library and evaluates a one-peak and a two-peak Gaussian, with their
# derivatives, over the bundled example points.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target fitmodels-eval
echo "# Gauss, baseline 1, one peak at 5 of width 2 and area 10: x, y, d1..d4"
./build/fitmodels-eval Gauss 1,5,2,10 tools/examples/points.txt
echo "# Gauss, two peaks (at 4 and 6): x, y, d1..d7"
./build/fitmodels-eval Gauss 1,4,1.5,6,6,1,3 tools/examples/points.txt
