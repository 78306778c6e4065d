#!/usr/bin/env bash
# Export and import of a document with 1,000 distinct run formats, with xthost and Kesto.so of
# one build or of two (before and after a change): the time of each command (wall clock of the
# host run, the fastest of three) and what the container stores.
#   bash bench/samples/run.sh BUILD_DIR [OTHER_BUILD_DIR ...]
# The document and the container reader come from the first build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
first=$(cd "${1:?usage: run.sh BUILD_DIR [OTHER_BUILD_DIR ...]}" && pwd)
formats=${FORMATS:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-samples-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$first/bench/samples/SampleBoxesBench" document "$formats" "$work/formats.qxp"
source "$here/../../examples/lib/host-runs.sh"
fastest() { sort -g | head -1; }
for build in "$@"; do
  build=$(cd "$build" && pwd)
  app="$work/app"
  rm -rf "$app"; cp -r "$here/../../examples/app" "$app"
  export_script formats.qxp > "$app/export.xts"
  cat > "$app/import.xts" <<XTS
start
menu "Import Verbant file"
open * formats.dwq
save * formats-imported.qxp
dialog 103
  press 1
quit
XTS
  host=("$build/platform/host/xthost" --app "$app" --module "$build/Plugin/XTension/Kesto.so")
  export_s=$(for _ in 1 2 3; do
    cp "$work/formats.qxp" "$app/"; rm -f "$app/formats.dwq"
    s=$(date +%s.%N); "${host[@]}" --script "$app/export.xts" > /dev/null 2>&1; e=$(date +%s.%N)
    echo "$e - $s" | bc; done | fastest)
  cp "$app/formats.dwq" "$work/kept.dwq"
  import_s=$(for _ in 1 2 3; do
    cp "$work/kept.dwq" "$app/formats.dwq"; rm -f "$app/formats-imported.qxp"
    s=$(date +%s.%N); "${host[@]}" --script "$app/import.xts" > /dev/null 2>&1; e=$(date +%s.%N)
    echo "$e - $s" | bc; done | fastest)
  [ -s "$app/formats-imported.qxp" ] || { echo "$build: the import wrote no document" >&2; exit 1; }
  echo "$build: $formats run formats: export ${export_s} s, import ${import_s} s"
  echo "  $("$first/bench/samples/SampleBoxesBench" stored "$work/kept.dwq")"
done
