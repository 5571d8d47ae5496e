#!/usr/bin/env bash
# Installs what the project needs, builds it and starts the record keeper
# (jotbin) on its data file, build/JBdata.ORB, which the build makes with
# the table JB when it is not there. Without a display the window is shown
# on a virtual X server (Xvfb), and this is said on stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORB_WERROR=ON
cmake --build build -j "$(nproc)" --target jotbin jotbin_data orbdb
exec scripts/with-display.sh build/jotbin "$@"
