#!/usr/bin/env bash
# A batch export as a controller starts one, through xthost and Kesto.so of one build or of two
# (before and after a change): a folder of COPIES copies (default 2,000) of minimal.qxp to
# exchange files in an empty target folder, on the disk of the temporary folder. Prints the
# wall clock of each build's host run, the fastest of RUNS (default 3; the builds take turns,
# so that a busy machine weighs on each alike), and checks that every exchange file was written.
# With SYNCS=1 each build runs once more under strace, which counts the syncs per document
# (fsync, fdatasync, syncfs of the whole run, divided by COPIES).
#   bash bench/batch/run.sh BUILD_DIR [OTHER_BUILD_DIR ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
documents=$here/../../examples/documents
copies=${COPIES:-2000}
runs=${RUNS:-3}
[ $# -gt 0 ] || { echo "usage: run.sh BUILD_DIR [OTHER_BUILD_DIR ...]" >&2; exit 2; }
builds=()
for build in "$@"; do builds+=("$(cd "$build" && pwd)"); done
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-batch-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/source"
for i in $(seq "$copies"); do cp "$documents/minimal.qxp" "$work/source/doc$i.qxp"; done
declare -A best syncs
for _ in $(seq "$runs"); do
  for build in "${builds[@]}"; do
    app="$work/app"
    rm -rf "$app" "$work/target"
    mkdir -p "$app/XTensions" "$app/Batch" "$work/target"
    printf '[Path]\nBatchFilePath=%s/Batch/batch.ini\n' "$app" > "$app/XTensions/kesto.ini"
    printf '[General]\nMode=Export\nRecursive=True\n[Path]\nSource=%s/source\nTarget=%s/target\n' \
      "$work" "$work" > "$work/batch.ini"
    cp "$work/batch.ini" "$app/Batch/batch.ini"
    printf 'start\nidle 3\nquit\n' > "$app/run.xts"
    sync
    s=$(date +%s.%N)
    "$build/platform/host/xthost" --app "$app" --module "$build/Plugin/XTension/Kesto.so" \
      --script "$app/run.xts" > /dev/null 2>&1
    e=$(date +%s.%N)
    if [ "${SYNCS:-0}" = 1 ] && [ -z "${syncs[$build]:-}" ]; then
      # The same run again, counted: the earlier results are replaced, as a rerun replaces them.
      cp "$work/batch.ini" "$app/Batch/batch.ini"
      strace -f -c -e trace=fsync,fdatasync,syncfs -o "$work/strace.txt" "$build/platform/host/xthost" \
        --app "$app" --module "$build/Plugin/XTension/Kesto.so" --script "$app/run.xts" > /dev/null 2>&1
      calls=$(awk '$NF == "total" { print $4 }' "$work/strace.txt")
      syncs[$build]=$(echo "scale=2; $calls / $copies" | bc)
    fi
    written=$(find "$work/target" -name '*.dwq' -size +0 | wc -l)
    [ "$written" -eq "$copies" ] || { echo "$build: $written of $copies exchange files written" >&2; exit 1; }
    t=$(echo "$e - $s" | bc)
    if [ -z "${best[$build]:-}" ] || [ "$(echo "$t < ${best[$build]}" | bc)" -eq 1 ]; then best[$build]=$t; fi
  done
done
for build in "${builds[@]}"; do
  printf '%s: %d documents exported in %.2f s (the fastest of %d runs)\n' "$build" "$copies" "${best[$build]}" "$runs"
  [ -z "${syncs[$build]:-}" ] || printf '%s: %s syncs per document\n' "$build" "${syncs[$build]}"
done
