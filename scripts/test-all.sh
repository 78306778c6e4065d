#!/usr/bin/env bash
# Builds and runs every test: the plain build, the sanitizer build (address, undefined) and
# the fuzz targets' regression corpora (clang with libFuzzer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# The first failure of each failed test, one line each, as the last lines of the output: a
# long run's log is often read from its end.
digest() { # <build dir>
  local failed="$root/$1/Testing/Temporary/LastTestsFailed.log" names name first
  [ -f "$failed" ] || return 0
  names=$(cut -d: -f2- "$failed" | head -n 20)
  cp "$failed" "$failed.run"
  echo "---- first failure of each failed test"
  while read -r name; do
    first=$(ctest --test-dir "$root/$1" -R "^${name}\$" --output-on-failure --timeout 600 2>&1 </dev/null |
      grep -i -m1 -A3 -E "Failure|error|alert|Exception|Timeout|Sanitizer" | tr '\n\t' '  ' | cut -c1-400 || true)
    echo "$name: $first"
  done <<<"$names"
  # The reruns wrote their own list; --rerun-failed should find the whole run's.
  mv "$failed.run" "$failed"
}
run() { # <build dir> <target> <cmake options...>
  local dir=$1 target=$2; shift 2
  cmake -S "$root" -B "$root/$dir" "$@" >/dev/null
  cmake --build "$root/$dir" -j "$jobs" --target "$target"
  ctest --test-dir "$root/$dir" -j "$jobs" --output-on-failure --timeout 600 || { digest "$dir"; return 8; }
}
run build all -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan all -DCMAKE_BUILD_TYPE=Debug -DKESTO_SANITIZE=ON
if command -v clang++ >/dev/null; then
  CC=clang CXX=clang++ run build-fuzz fuzzers -DCMAKE_BUILD_TYPE=Debug -DKESTO_FUZZ=ON
fi
