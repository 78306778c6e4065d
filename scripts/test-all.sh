#!/usr/bin/env bash
# Builds and runs every test: the plain build, the sanitizer build (address, undefined) and
# the fuzz targets' regression corpora (clang with libFuzzer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
faults='ERROR: (Address|Leak|Undefined)Sanitizer|runtime error:|: Failure$|\*\*\*(Timeout|Exception)'

# One test again, alone; prints what it printed.
rerun() { # <build dir> <test name>
  local dir=$1 name=$2
  ctest --test-dir "$root/$dir" -R "^${name}\$" --output-on-failure --timeout 600 </dev/null 2>&1
}

# The first fault in a test's output, on one line: a failed expectation or a sanitizer's
# report, or else the sanitizer's own lines around a fatal error of its own.
first_fault() {
  local out first
  out=$(cat)
  first=$(grep -m1 -A3 -E "$faults" <<<"$out" || true)
  [ -n "$first" ] || first=$(grep -E '^==[0-9]+==' <<<"$out" | grep -v -E 'DTLS|intercept' | head -n 4 || true)
  tr '\n\t' '  ' <<<"$first" | cut -c1-400
}

# Each failed test (the first 20) runs again alone, and the first fault of each follows, one
# line each, as the last lines of the output: a long run's log is often read from its end. A
# test whose leak check could not run (LeakSanitizer ends it with a fatal error of its own) has
# failed like any other: the leak check runs on every test of the sanitizer build.
recheck() { # <build dir> <failed test names>
  local dir=$1 names=$2 name left=""
  echo "---- the failed tests, run again one at a time"
  while read -r name; do
    left+="$name: $(rerun "$dir" "$name" | first_fault)"$'\n'
  done <<<"$(head -n 20 <<<"$names")"
  echo "---- first fault of each failed test (this shell: $(grep -E '^(TracerPid|Seccomp|CapEff):' /proc/self/status | tr -s '\t\n' '  '))"
  printf '%s' "$left"
  return 8
}

run() { # <build dir> <target> <cmake options...>
  local dir=$1 target=$2 failed names status=0
  shift 2
  cmake -S "$root" -B "$root/$dir" "$@" >/dev/null
  cmake --build "$root/$dir" -j "$jobs" --target "$target"
  ctest --test-dir "$root/$dir" -j "$jobs" --output-on-failure --timeout 600 && return 0
  failed="$root/$dir/Testing/Temporary/LastTestsFailed.log"
  [ -f "$failed" ] || return 8
  names=$(cut -d: -f2- "$failed")
  # The reruns write their own list; --rerun-failed should find the whole run's.
  cp "$failed" "$failed.run"
  recheck "$dir" "$names" || status=8
  mv "$failed.run" "$failed"
  return $status
}
run build all -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build-asan all -DCMAKE_BUILD_TYPE=Debug -DKESTO_SANITIZE=ON
if command -v clang++ >/dev/null; then
  CC=clang CXX=clang++ run build-fuzz fuzzers -DCMAKE_BUILD_TYPE=Debug -DKESTO_FUZZ=ON
fi
