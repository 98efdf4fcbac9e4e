#!/usr/bin/env bash
# Builds the library, the tests and the benchmarks, and runs the whole test suite, then runs it
# again in a sanitised build; then the concurrency test under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer: the tests hand each model
# exactly nParams parameters, so a read beyond them is reported here.
cmake -S . -B build-sanitize -G Ninja -DFITMODELS_SANITIZE=ON -DFITMODELS_BUILD_BENCH=OFF
cmake --build build-sanitize
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"

# Every model from several threads at once under ThreadSanitizer: only the test and the library.
cmake -S . -B build-tsan -G Ninja -DFITMODELS_TSAN=ON -DFITMODELS_BUILD_BENCH=OFF
cmake --build build-tsan --target threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test
