#!/usr/bin/env bash
# Installs what ravlen needs, builds it and starts it: scripts/run.sh [file.pdf …]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLEN_BUILD_TESTS=OFF -DRAVLEN_BUILD_BENCH=OFF
cmake --build build --target ravlen
exec ./build/Quarn/ravlen "$@"
