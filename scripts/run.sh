#!/usr/bin/env bash
# Installs what ravlen needs, builds it and starts it: scripts/run.sh [file.pdf …]
# It builds in a folder of its own (build-run), without the tests, so that the
# test command's folder (build) is never left configured without them.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLEN_BUILD_APP=ON -DRAVLEN_BUILD_TESTS=OFF \
  -DRAVLEN_BUILD_BENCH=OFF -DRAVLEN_SANITIZE=OFF -DRAVLEN_WERROR=OFF
cmake --build build-run --target ravlen
exec ./build-run/Quarn/ravlen "$@"
