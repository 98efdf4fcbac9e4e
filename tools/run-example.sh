#!/usr/bin/env bash
# Builds the library and evaluates a model, with their
# derivatives, over the bundled example points.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target fitmodels-eval
echo "# Parabola 1 + 0.5 x - 0.2 x^2: x, y, d1..d3"
./build/fitmodels-eval Parabola 1,0.5,-0.2 tools/examples/points.txt
