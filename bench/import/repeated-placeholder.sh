#!/usr/bin/env bash
# The import of a translation of export.qxp whose first placeholder record is written twice and
# written 100,000 times (kesto-damage), with xthost and Kesto.so of one build or of two (before
# and after a change): the wall clock of each host run (the fastest of three, at most LIMIT
# seconds, default 120) and the result the import ends with. A story that places a marker more
# often than the document holds it is refused as soon as its records are read, so the time
# grows with the records, not with their square.
#   bash bench/import/repeated-placeholder.sh BUILD_DIR [OTHER_BUILD_DIR ...]
# The container and its damage come from the first build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
first=$(cd "${1:?usage: repeated-placeholder.sh BUILD_DIR [OTHER_BUILD_DIR ...]}" && pwd)
limit=${LIMIT:-120}
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-repeated-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$here/../../examples/lib/host-runs.sh"
(translated_export "$first" "$work/made" > /dev/null 2>&1)
for damage in placeholder-twice placeholder-100000-times; do
  "$first/examples/damage/kesto-damage" "$damage" "$work/made/export-translated.dwq" "$work/$damage.dwq"
done
fastest() { sort -g | head -1; }
for build in "$@"; do
  build=$(cd "$build" && pwd)
  app="$work/app"
  rm -rf "$app"; cp -r "$here/../../examples/app" "$app"
  cp "$here/../../examples/documents/export.qxp" "$app/"
  host=("$build/platform/host/xthost" --app "$app" --module "$build/Plugin/XTension/Kesto.so")
  for damage in placeholder-twice placeholder-100000-times; do
    printf 'start\nmenu "Import Verbant file"\nopen * %s.dwq\nsave * %s.qxp\ndialog 104\n  press 1\nquit\n' \
      "$damage" "$damage" > "$app/$damage.xts"
    result=none
    seconds=$(for _ in 1 2 3; do
      cp "$work/$damage.dwq" "$app/"; rm -f "$app/$damage.qxp"
      s=$(date +%s.%N)
      timeout "$limit" "${host[@]}" --script "$app/$damage.xts" > "$app/$damage.transcript" 2>&1 || true
      e=$(date +%s.%N)
      echo "$e - $s" | bc; done | fastest)
    grep -q 'dialog 104 "Result" opens' "$app/$damage.transcript" && result="Import failed"
    grep -q 'dialog 103 "Result" opens' "$app/$damage.transcript" && result="Import done"
    echo "$build: $damage: ${seconds} s, $result"
  done
done
