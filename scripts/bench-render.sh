#!/usr/bin/env bash
# Times ravlen's rendering of every page at 150 dpi (one thread, whole process:
# open + render) beside mutool's, on a long sample file and on a 500-page
# document built from the sample files, and prints the ratio of wall times.
#
# Two mutool figures are given: the command `mutool draw -r 150 -o /dev/null`
# as it stands, which also encodes every page as PNG (mutool's format for an
# output name without a known suffix), and the same rendering with a raw
# output (-F pnm), which does no more work than ours. The second is the
# like-for-like comparison.
#
# Environment: BUILD_DIR (default build-bench), RAVLEN_CORPUS_DIR (default
# ../shared/corpus beside the project), RUNS (timed runs per command, default 5).
set -euo pipefail
export LC_ALL=C

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-bench}"
CORPUS="${RAVLEN_CORPUS_DIR:-$ROOT/../shared/corpus}"
RUNS="${RUNS:-5}"
DPI=150

command -v mutool >/dev/null || { echo "mutool is missing: apt-get install mupdf-tools" >&2; exit 1; }
[ -d "$CORPUS" ] || { echo "no sample files at $CORPUS (set RAVLEN_CORPUS_DIR)" >&2; exit 1; }

cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DRAVLEN_BUILD_APP=OFF -DRAVLEN_BUILD_BENCH=ON >/dev/null
ninja -C "$BUILD_DIR" ravlen-render-all ravlen-makebig bench-render >/dev/null
RENDER_ALL="$BUILD_DIR/bench/ravlen-render-all"
MAKEBIG="$BUILD_DIR/tools/ravlen-makebig"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
BIG="$WORK/corpus-500.pdf"
"$MAKEBIG" 500 "$BIG" "$CORPUS" 2>/dev/null

# Median wall time in seconds of a command over $RUNS runs, after one warm-up run.
median_seconds() {
    if command -v hyperfine >/dev/null; then
        local cmd
        printf -v cmd "%q " "$@"
        hyperfine -N -w 1 -r "$RUNS" -i --export-csv "$WORK/h.csv" "$cmd" >/dev/null 2>&1
        awk -F, 'NR == 2 { print $4 }' "$WORK/h.csv"
    else
        "$@" >/dev/null 2>&1 || true
        local times=() i start end
        for ((i = 0; i < RUNS; i++)); do
            start=$(date +%s%N)
            "$@" >/dev/null 2>&1 || true
            end=$(date +%s%N)
            times+=("$(( end - start ))")
        done
        printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END { m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.4f\n", m / 1e9 }'
    fi
}

printf '%-28s %6s %9s %16s %7s %16s %7s\n' "file" "pages" "ravlen" "mutool /dev/null" "ratio" "mutool raw" "ratio"
for file in "$CORPUS/GeoTopo-komprimiert.pdf" "$BIG"; do
    pages=$(mutool info "$file" 2>/dev/null | awk '/^Pages:/ { print $2 }')
    ours=$(median_seconds "$RENDER_ALL" "$file" "$DPI")
    png=$(median_seconds mutool draw -q -r "$DPI" -o /dev/null "$file")
    raw=$(median_seconds mutool draw -q -r "$DPI" -F pnm -o /dev/null "$file")
    awk -v name="$(basename "$file")" -v pages="$pages" -v a="$ours" -v b="$png" -v c="$raw" \
        'BEGIN { printf "%-28s %6s %8.3fs %15.3fs %7.2f %15.3fs %7.2f\n", name, pages, a, b, a / b, c, a / c }'
done
echo "ratio: ravlen's wall time / mutool's (median of $RUNS runs); target at most 1.1 against the raw rendering"
