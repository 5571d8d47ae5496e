#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_WERROR=ON
cmake --build build -j "$(nproc)" --target orbdb
./build/orbdb --help
