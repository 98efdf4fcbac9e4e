#!/usr/bin/env bash
# Builds the library, the tests and the benchmarks, and runs the whole test suite, then runs it
# again in a sanitised build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The installation, used by two consumers out of tree (CMake package, pkg-config); then the
# Windows DLLs: their export tables, and a consumer under Wine against the Linux build's values.
bash tools/check-install.sh build
bash tools/check-dll.sh build

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer: the tests hand each model
# exactly nParams parameters, so a read beyond them is reported here.
cmake -S . -B build-sanitize -G Ninja -DFITMODELS_SANITIZE=ON -DFITMODELS_BUILD_BENCH=OFF \
  -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
