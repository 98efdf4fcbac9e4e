#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the installation: the versioned libraries,
# the tool, and two consumers built against it out of tree, one through the CMake package
# (find_package(fitmodels CONFIG)) and one through pkg-config, each plain C99 with -Werror. Both
# run their checks and evaluate every model at its generic points, with the same outputs.
#   tools/check-install.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libfitmodels.so -print -quit)")
[ -d "$libdir" ] || fail "no libfitmodels.so installed"
libs=(libfitmodels libfitmodels_hostmath)
[ -e "$libdir/libfitmodels_fit.so" ] && libs+=(libfitmodels_fit)
for lib in "${libs[@]}"; do
  [ "$(readlink "$libdir/$lib.so")" = "$lib.so.1" ] || fail "$lib.so does not link to $lib.so.1"
  real=$(readlink "$libdir/$lib.so.1")
  [[ $real =~ ^$lib\.so\.1\.[0-9]+\.[0-9]+$ ]] || fail "$lib.so.1 links to $real"
  soname=$(objdump -p "$libdir/$real" | awk '$1 == "SONAME" { print $2 }')
  [ "$soname" = "$lib.so.1" ] || fail "$real has the SONAME \"$soname\", not $lib.so.1"
done
for header in fitmodels.h fitmodels_catalog.h; do
  [ -f "$prefix/include/$header" ] || fail "$header not installed"
done
tool_output=$("$prefix/bin/fitmodels" eval Gauss 1 5 2 10 --x 5)
[[ $tool_output == *4.98942280401* ]] || fail "the installed tool does not evaluate Gauss"

cp "$build/generated/generic_points.txt" "$work/points.txt"

cmake -S tests/consumers/cmake -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/consumer" "$work/points.txt" > "$work/cmake.out" || fail "the CMake consumer fails"

PKG_CONFIG_PATH="$libdir/pkgconfig" sh tests/consumers/pkgconfig/build.sh "$work/pkgconfig"
"$work/pkgconfig" "$work/points.txt" > "$work/pkgconfig.out" || fail "the pkg-config consumer fails"

cmp -s "$work/cmake.out" "$work/pkgconfig.out" || fail "the two consumers disagree"
fit=
[ -e "$libdir/libfitmodels_fit.so" ] && fit=", and one fit each"
echo "check-install: ${libs[*]} installed; $(wc -l < "$work/cmake.out") model points" \
     "through the CMake and the pkg-config consumer$fit"
