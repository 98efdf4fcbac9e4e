#!/bin/sh
# Builds the consumer of the installed library through pkg-config, as plain C99:
#   PKG_CONFIG_PATH=<prefix>/lib/pkgconfig sh tests/consumers/pkgconfig/build.sh <output>
# With the fitting library (pkg-config module fitmodels-fit), the consumer also runs one fit.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=$1
modules=fitmodels
sources="$here/consumer.c"
defines=
if pkg-config --exists fitmodels-fit; then
  modules="$modules fitmodels-fit"
  sources="$sources $here/fit.c"
  defines=-DFITMODELS_CONSUMER_FIT
fi
# shellcheck disable=SC2046,SC2086
${CC:-cc} -std=c99 -Wall -Wextra -Werror -pedantic -O2 $defines $(pkg-config --cflags $modules) \
  $sources -o "$out" $(pkg-config --libs $modules) \
  -Wl,-rpath,"$(pkg-config --variable=libdir fitmodels)"
