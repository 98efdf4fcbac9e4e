#!/usr/bin/env bash
# Prints the README's table of how each model's starting values are estimated, from the
# catalogue through `fitmodels list` (its start column): one row per start kind with its models.
#   bash tools/starts-table.sh [build/fitmodels]
set -euo pipefail
tool=${1:-build/fitmodels}
"$tool" list | awk '
  NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "start") col = i; next }
  { kind = $col; models[kind] = models[kind] (models[kind] == "" ? "" : ", ") $1; count[kind]++ }
  END {
    split("linear peak sigmoid dose_response decay growth power saturation periodic distribution " \
          "cumulative expected_value surface_peak surface generic none", order, " ")
    print "| start kind | models | |"
    print "|---|---:|---|"
    for (i = 1; i in order; ++i)
      if (order[i] in count) printf "| %s | %d | %s |\n", order[i], count[order[i]], models[order[i]]
  }'
