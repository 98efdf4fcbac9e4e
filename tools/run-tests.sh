#!/usr/bin/env bash
# Builds the library, the tests and the benchmarks, and runs the whole test suite, then runs it
# again in a sanitised build; then the concurrency tests under ThreadSanitizer and the fuzz targets
# over every model and over the fitting library's C API for a bounded time.
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

# Every model from several threads at once, and the fitting library's batches over worker threads
# and host threads fitting at once, under ThreadSanitizer: only the tests and the libraries.
cmake -S . -B build-tsan -G Ninja -DFITMODELS_TSAN=ON -DFITMODELS_BUILD_BENCH=OFF
cmake --build build-tsan --target threads_test fit_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/fit/fit_test --gtest_filter='FitBatch.*'

# The fuzz targets (clang, libFuzzer, ASan, UBSan), from the committed seeds: over every model
# for FITMODELS_FUZZ_SECONDS (150 by default), over the fitting library's C API for
# FITMODELS_FIT_FUZZ_SECONDS (60 by default); new inputs go to build-fuzz/corpus*.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFITMODELS_FUZZ=ON -DFITMODELS_BUILD_TESTS=OFF \
  -DFITMODELS_BUILD_BENCH=OFF -DFITMODELS_BUILD_TOOL=OFF -DFITMODELS_BUILD_FIT=ON
cmake --build build-fuzz --target models_fuzz fit_fuzz
mkdir -p build-fuzz/corpus build-fuzz/corpus-fit
build-fuzz/tests/fuzz/models_fuzz -max_total_time="${FITMODELS_FUZZ_SECONDS:-150}" -timeout=10 \
  -print_final_stats=1 build-fuzz/corpus tests/fuzz/corpus
build-fuzz/tests/fuzz/fit_fuzz -max_total_time="${FITMODELS_FIT_FUZZ_SECONDS:-60}" -timeout=20 -max_len=2048 \
  -print_final_stats=1 build-fuzz/corpus-fit tests/fuzz/corpus-fit
