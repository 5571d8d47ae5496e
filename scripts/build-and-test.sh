#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the whole test suite:
# once in a normal build, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Every include goes to its own layer or one below it.
python3 scripts/check_layers.py .
jobs=$(nproc)
# Let ccache reuse objects compiled in another checkout of the project.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_SANITIZE=ON -DORB_BUILD_BENCH=OFF -DORB_WERROR=ON
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")
