#!/usr/bin/env bash
# The README's two commands, run one after the other on a copy of the project:
# the test command runs ctest only on a folder configured with the tests,
# whatever ran before it, and the run command's build stops on no warning.
# CMake configures for real; installing, compiling, the format check, ctest's
# run and the program itself are stood in for. Usage: BuildCommands.sh SOURCE
set -euo pipefail
source=$(cd "$1" && pwd)
real_cmake=$(command -v cmake)
real_ctest=$(command -v ctest)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

tree=$scratch/tree
bin=$scratch/bin
log=$scratch/log
mkdir -p "$tree/scripts" "$bin"
for entry in "$source"/*; do
  name=$(basename "$entry")
  case $name in build* | scripts) ;; *) ln -s "$entry" "$tree/$name" ;; esac
done
cp "$source/scripts/run.sh" "$source/scripts/test.sh" "$tree/scripts/"
printf '#!/bin/sh\nexit 0\n' >"$tree/scripts/install-deps.sh"
printf '#!/bin/sh\nexit 0\n' >"$bin/git"
printf '#!/bin/sh\nexit 0\n' >"$bin/clang-format-14"
# "cmake --build DIR …" leaves the program in DIR; any other call is CMake's own.
cat >"$bin/cmake" <<EOF
#!/bin/sh
if [ "\$1" = "--build" ]; then
  mkdir -p "\$2/Quarn"
  printf '#!/bin/sh\necho "ran %s" >>"%s"\n' "\$2" "$log" >"\$2/Quarn/ravlen"
  chmod +x "\$2/Quarn/ravlen"
  echo "built \$2" >>"$log"
  exit 0
fi
exec "$real_cmake" "\$@"
EOF
# ctest lists what it would run: the folder and how many tests it holds.
cat >"$bin/ctest" <<EOF
#!/bin/sh
while [ \$# -gt 0 ]; do
  if [ "\$1" = "--test-dir" ]; then dir=\$2; fi
  shift
done
count=\$("$real_ctest" --test-dir "\$dir" -N | sed -n 's/^Total Tests: //p')
echo "tested \$dir \$count" >>"$log"
EOF
chmod +x "$tree/scripts/install-deps.sh" "$bin"/*
export PATH="$bin:$PATH"

failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}
option() { sed -n "s/^$2:BOOL=//p" "$tree/$1/CMakeCache.txt"; }
# Every folder ctest ran on is configured with the tests, and lists them.
check_tests() {
  local tested=0
  while read -r verb dir count; do
    [ "$verb" = tested ] || continue
    tested=1
    [ "$(option "$dir" RAVLEN_BUILD_TESTS)" = ON ] || fail "$1: ctest ran on $dir, configured without the tests"
    [ "${count:-0}" -gt 0 ] || fail "$1: ctest found no tests in $dir"
  done <"$log"
  [ $tested = 1 ] || fail "$1: ctest never ran"
}
# The folder the run command built stops on no warning.
check_run() {
  local dir
  dir=$(sed -n 's/^ran //p' "$log" | tail -n 1)
  [ -n "$dir" ] || fail "$1: the program never started"
  [ -z "$dir" ] || [ "$(option "$dir" RAVLEN_WERROR)" = OFF ] || fail "$1: the run command built $dir with -Werror"
}

cd "$tree"
: >"$log"
./scripts/run.sh >/dev/null
check_run "run first"
: >"$log"
./scripts/test.sh >/dev/null
check_tests "test after run"
: >"$log"
./scripts/run.sh >/dev/null
check_run "run after test"
: >"$log"
./scripts/test.sh >/dev/null
check_tests "test after run after test"
exit $failed
