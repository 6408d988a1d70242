#!/usr/bin/env bash
# Installs what ravlen needs, checks the format, builds it and runs every test:
#  1. every tracked C++ file follows .clang-format;
#  2. the whole program and all tests (widget tests offscreen);
#  3. the whole program and all tests again under AddressSanitizer and
#     UndefinedBehaviorSanitizer (with LeakSanitizer).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)

# clang-format 14 (Debian 12's) is the version the tree is formatted with; others may disagree.
tracked=$(git ls-files -- '*.cpp' '*.h')
mapfile -t sources <<<"$tracked"
if ! clang-format-14 --dry-run --Werror "${sources[@]}" 2>/dev/null; then
  echo "These files do not follow .clang-format (fix with clang-format-14 -i FILE):" >&2
  for f in "${sources[@]}"; do
    clang-format-14 --dry-run --Werror "$f" >/dev/null 2>&1 || echo "  $f" >&2
  done
  exit 1
fi

# Every option the tests need is set each time: a folder configured earlier
# (by hand, or by an older run command) keeps its options otherwise, and
# without the tests ctest would run what an earlier build left there.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVLEN_BUILD_APP=ON -DRAVLEN_BUILD_TESTS=ON \
  -DRAVLEN_BUILD_BENCH=OFF -DRAVLEN_SANITIZE=OFF -DRAVLEN_WERROR=ON
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVLEN_BUILD_APP=ON -DRAVLEN_BUILD_TESTS=ON \
  -DRAVLEN_BUILD_BENCH=OFF -DRAVLEN_SANITIZE=ON -DRAVLEN_WERROR=ON
cmake --build build-asan -j "$jobs"

export QT_QPA_PLATFORM=offscreen
# Tests write settings and caches into a scratch home, never the user's own.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
  XDG_CACHE_HOME="$scratch/cache" XDG_STATE_HOME="$scratch/state" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

status=0
# MuPDF's display lists keep their pointers packed at 4-byte steps; without
# use_unaligned, LeakSanitizer does not see them, and takes what a list still
# held at exit (its default colour spaces) for leaked.
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=use_unaligned=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" || status=1
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
exit $status
