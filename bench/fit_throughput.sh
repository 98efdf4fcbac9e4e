#!/usr/bin/env bash
# Fit throughput of `fitmodels fit`: a 10-peak Gauss spectrum of 10^5 points and a Gauss2D
# surface of 10^6 points (from starts 2 % off the truth), and 10^4 four-parameter dose-response
# curves of 12 points each (--group, estimated starts). Prints seconds per fit and model
# evaluations (points times evaluations of the model and of its Jacobian) per second.
#   bash bench/fit_throughput.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
tool="$build/fitmodels"
data="$build/fit-throughput"
mkdir -p "$data"
[[ -f "$data/plate.csv" ]] || python3 "$root/bench/make_fit_data.py" "$data"

run() {  # name points command...
  local name=$1 points=$2
  shift 2
  local start end out
  start=$(date +%s.%N)
  out=$("$@")
  end=$(date +%s.%N)
  local evals
  evals=$(echo "$out" | sed -n 's/^evaluations *\([0-9]*\) of the model, \([0-9]*\) of its Jacobian.*/\1 \2/p')
  python3 - "$name" "$points" "$start" "$end" "$evals" <<'PY'
import sys
name, points, start, end, evals = sys.argv[1:6]
secs = float(end) - float(start)
line = f"{name:<34} {secs:8.3f} s"
if evals.strip():
    f, j = map(int, evals.split())
    line += f"   {int(points) * (f + j) / secs / 1e6:8.1f} M model evaluations/s ({f} + {j} passes)"
print(line)
PY
}

run "Gauss, 10 peaks, 1e5 points" 100000 \
  "$tool" fit Gauss "$data/spectrum10.csv" --peaks 10 --init "$(cat "$data/spectrum10.init")"
run "Gauss2D, 1e6 points" 1000000 \
  "$tool" fit Gauss2D "$data/surface.csv" --x x1 --x x2 --y z --init "$(cat "$data/surface.init")"
start=$(date +%s.%N)
"$tool" fit Hill1 "$data/plate.csv" --x conc --y response --group curve --json > "$data/plate.json"
end=$(date +%s.%N)
python3 -c "import sys; s = float(sys.argv[2]) - float(sys.argv[1]); print(f'{\"Hill1, 1e4 curves of 12 points\":<34} {s:8.3f} s   {10000 / s:8.0f} fits/s')" "$start" "$end"
