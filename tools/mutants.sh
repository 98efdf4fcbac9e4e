#!/usr/bin/env bash
# Plants the faults of tools/mutants.txt one at a time in a scratch copy of the sources, rebuilds
# the library and the model tests, runs them, and reports how many faults the suite catches.
#   bash tools/mutants.sh [MUTANTS_FILE]
# Prints one line per fault (caught / SURVIVED / not applied) and the score. Exits non-zero only
# when the scratch build itself fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$(realpath "${1:-$root/tools/mutants.txt}")"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cp -r "$root"/. "$scratch/src"
rm -rf "$scratch/src/build" "$scratch/src/build-sanitize" "$scratch/src/.git"
cmake -S "$scratch/src" -B "$scratch/build" -G Ninja -DFITMODELS_BUILD_BENCH=OFF >/dev/null
cmake --build "$scratch/build" --target models_test >/dev/null
"$scratch/build/tests/models_test" --gtest_brief=1 >/dev/null || {
  echo "the unmutated suite fails; fix it first" >&2
  exit 1
}

caught=0 survived=0 skipped=0
while IFS=$'\t' read -r file occurrence text replacement; do
  [[ -z "$file" || "$file" == \#* ]] && continue
  target="$scratch/src/$file"
  [[ -f "$target" ]] || { echo "not applied (no file): $file"; skipped=$((skipped + 1)); continue; }
  cp "$target" "$target.orig"
  if ! python3 - "$target" "$occurrence" "$text" "$replacement" <<'PY'
import sys
path, n, old, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
src = open(path).read()
at = -1
for _ in range(n):
    at = src.find(old, at + 1)
    if at < 0:
        sys.exit(1)
open(path, "w").write(src[:at] + new + src[at + len(old):])
PY
  then
    echo "not applied (text not found): $file: $text"
    skipped=$((skipped + 1))
    continue
  fi
  if cmake --build "$scratch/build" --target models_test >/dev/null 2>&1 &&
     "$scratch/build/tests/models_test" --gtest_brief=1 >/dev/null 2>&1; then
    echo "SURVIVED: $file: $text  ->  $replacement"
    survived=$((survived + 1))
  else
    echo "caught:   $file: $text"
    caught=$((caught + 1))
  fi
  mv "$target.orig" "$target"
done < "$list"
cmake --build "$scratch/build" --target models_test >/dev/null
total=$((caught + survived))
echo "mutation score: $caught of $total caught ($skipped not applied)"
