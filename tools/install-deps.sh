#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, where they are missing.
set -euo pipefail
packages=(cmake ninja-build g++ binutils python3 libgtest-dev libgmock-dev libbenchmark-dev
          libboost-dev libcminpack-dev libcli11-dev libceres-dev pkg-config g++-mingw-w64-x86-64
          wine64 clang libclang-rt-14-dev libfuzzer-14-dev)
missing=()
# The Python package (python/) and its tests.
packages+=(python3-dev python3-numpy python3-pybind11 pybind11-dev python3-pytest python3-setuptools
           python3-wheel python3-pip python3-venv python3-scipy python3-lmfit python3-pandas
           python3-dask python3-distributed)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
