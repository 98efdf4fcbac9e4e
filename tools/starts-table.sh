#!/usr/bin/env bash
# Prints the README's table of how each model's starting values are estimated, from the
# catalogue through `fitmodels list` (its start column): one row per start kind with its models.
# With --check FILE it prints nothing and fails when FILE does not hold the table as printed.
#   bash tools/starts-table.sh [build/fitmodels] [--check README.md]
set -euo pipefail
tool=${1:-build/fitmodels}
table=$("$tool" list | awk '
  NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "start") col = i; next }
  { kind = $col; models[kind] = models[kind] (models[kind] == "" ? "" : ", ") $1; count[kind]++ }
  END {
    split("linear peak sigmoid dose_response decay growth power saturation periodic distribution " \
          "cumulative expected_value surface_peak surface generic none", order, " ")
    print "| start kind | models | |"
    print "|---|---:|---|"
    for (i = 1; i in order; ++i)
      if (order[i] in count) printf "| %s | %d | %s |\n", order[i], count[order[i]], models[order[i]]
  }')
if [ "${2:-}" = "--check" ]; then
  while IFS= read -r line; do
    grep -qxF -- "$line" "$3" || { echo "starts-table: $3 lacks: ${line:0:60}..." >&2; exit 1; }
  done <<< "$table"
else
  printf '%s\n' "$table"
fi
