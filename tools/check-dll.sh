#!/usr/bin/env bash
# The Windows DLLs: cross-builds the model library and the host math library with MinGW-w64
# (only the libraries: no tests, no tool), checks the DLL's export table against the export list
# of frame/functions.tsv (same names, same ordinals, nothing else) and the host math DLL's
# against its routines, then runs the C consumer under Wine: it binds every exported model by
# name and by ordinal, has FuncTest (ordinal 5) list the table into a message-only window through
# SendMessageW, evaluates the generic points, and its outputs must agree with the Linux build's
# to 1e-12 relative (the C runtimes' pow, exp and lgamma differ in the last bits).
#   tools/check-dll.sh [LINUX_BUILD_DIR]    (default: build, holding libfitmodels.so)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=$(cd "${1:-build}" && pwd)
cross=build-mingw
objdump=x86_64-w64-mingw32-objdump
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-dll: $*" >&2; exit 1; }

cmake -S . -B "$cross" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DFITMODELS_BUILD_TESTS=OFF -DFITMODELS_BUILD_BENCH=OFF -DFITMODELS_BUILD_TOOL=OFF -DFITMODELS_BUILD_FIT=OFF \
  --no-warn-unused-cli >/dev/null
cmake --build "$cross" --target fitmodels

# "ordinal name" per named export, and "ordinal -" per exported address without a name.
exports() {
  "$objdump" -p "$1" | awk '
    /^Ordinal Base/ { base = $3 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    /^$/ { names = 0 }
    /Export RVA$|Forwarder RVA$/ { sub(/.*\+base\[ */, ""); sub(/\].*/, ""); address[$0 + 0] = 1 }
    names && /^\t\[/ { sub(/^\t\[ */, ""); split($0, f, /\] /); ordinal = f[1] + base
                       print ordinal, f[2]; delete address[ordinal] }
    END { for (a in address) print a, "-" }' | sort -n
}

awk -F'\t' '!/^#/ && $6 != "-" { print $7, $6 }' frame/functions.tsv | sort -n > "$work/expected"
exports "$cross/fitmodels.dll" > "$work/actual"
diff "$work/expected" "$work/actual" > "$work/diff" ||
  fail "fitmodels.dll exports differ from the export list (< list, > DLL):$(echo; cat "$work/diff")"
for name in Get_Func:50 get_funx:3 get_funx_list:2 FuncTest:5 Boltzman1:220 errtest:2000; do
  grep -qx "${name#*:} ${name%:*}" "$work/actual" || fail "fitmodels.dll lacks ${name%:*} @${name#*:}"
done
awk '/^  / { print $1 }' "$cross/generated/fitmodels_hostmath.def" | sort > "$work/expected"
exports "$cross/fitmodels_hostmath.dll" | awk '{ print $2 }' | sort > "$work/actual"
diff "$work/expected" "$work/actual" > "$work/diff" ||
  fail "fitmodels_hostmath.dll exports differ from its routines:$(echo; cat "$work/diff")"
echo "check-dll: fitmodels.dll exports the $(awk -F'\t' '!/^#/ && $6 != "-"' frame/functions.tsv | wc -l)" \
     "names of the export list with their ordinals, fitmodels_hostmath.dll its" \
     "$(wc -l < "$work/expected") routines"

# The same consumer on both systems, over the same points.
cp "$linux_build/generated/generic_points.txt" "$work/points.txt"
flags=(-std=c99 -Wall -Wextra -Werror -pedantic -O2 -Iinclude)
cc "${flags[@]}" tests/consumers/consumer.c -L"$linux_build" -lfitmodels \
  -Wl,-rpath,"$linux_build" -o "$work/consumer"
"$work/consumer" "$work/points.txt" > "$work/linux.out" || fail "the Linux consumer fails"
x86_64-w64-mingw32-gcc "${flags[@]}" tests/consumers/consumer.c -L"$cross" -lfitmodels \
  -static-libgcc -o "$work/consumer.exe"
cp "$cross/fitmodels.dll" "$cross/fitmodels_hostmath.dll" "$work/"

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64  # Debian 12 keeps wine64 off the PATH
[ -x "$wine" ] || fail "no wine64"
# A fresh prefix, no display, no offer to install Mono or Gecko.
(cd "$work" && env -u DISPLAY WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  "$wine" consumer.exe points.txt > windows.out 2> wine.err) ||
  fail "the Windows consumer fails:$(echo; grep consumer: "$work/wine.err" || cat "$work/wine.err")"
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo true)
WINEPREFIX="$work/wine" "$wineserver" -k 2>/dev/null || true

tr -d '\r' < "$work/windows.out" | awk -v tolerance=1e-12 '
  function abs(v) { return v < 0 ? -v : v }
  NR == FNR { linux[FNR] = $0; points = FNR; next }
  {
    lines++
    if (linux[FNR] == $0) { same++; next }
    n = split(linux[FNR], a); m = split($0, b)
    if (n != m) { print "line " FNR ": " linux[FNR] "\n     vs " $0; bad++; next }
    for (i = 1; i <= n; i++) {
      if (a[i] == b[i]) continue
      d = abs(a[i] - b[i]); s = abs(a[i]) > abs(b[i]) ? abs(a[i]) : abs(b[i])
      if (a[i] !~ /^-?[0-9]/ || d > tolerance * s) {
        print "line " FNR " field " i ": " a[i] " vs " b[i]; bad++; break
      }
      if (d / s > worst) worst = d / s
    }
  }
  END {
    if (lines != points || lines == 0) { print "Linux and Windows evaluated different points"; bad++ }
    printf "check-dll: %d points under Wine, %d identical to Linux, the rest within %.1e\n",
           lines, same, worst
    exit bad > 0
  }' "$work/linux.out" - || fail "the Windows outputs differ from the Linux ones"
