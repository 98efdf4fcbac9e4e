#!/usr/bin/env bash
# Builds the library, the tests and the benchmarks, and runs the whole test suite, then runs it
# again in a sanitised build; then the concurrency test under ThreadSanitizer and the fuzz target
# over every model for a bounded time.
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

# Every model from several threads at once under ThreadSanitizer: only the test and the library.
cmake -S . -B build-tsan -G Ninja -DFITMODELS_TSAN=ON -DFITMODELS_BUILD_BENCH=OFF
cmake --build build-tsan --target threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test

# The fuzz target over every model (clang, libFuzzer, ASan, UBSan), from the committed seeds,
# for FITMODELS_FUZZ_SECONDS (150 by default); new inputs go to build-fuzz/corpus.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFITMODELS_FUZZ=ON -DFITMODELS_BUILD_TESTS=OFF \
  -DFITMODELS_BUILD_BENCH=OFF -DFITMODELS_BUILD_TOOL=OFF -DFITMODELS_BUILD_FIT=OFF
cmake --build build-fuzz --target models_fuzz
mkdir -p build-fuzz/corpus
build-fuzz/tests/fuzz/models_fuzz -max_total_time="${FITMODELS_FUZZ_SECONDS:-150}" -timeout=10 \
  -print_final_stats=1 build-fuzz/corpus tests/fuzz/corpus
