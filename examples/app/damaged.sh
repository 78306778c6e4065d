#!/usr/bin/env bash
# Exports a shipped document, translates it with kesto-pseudo-translate, damages the translation
# as translation tools were seen to (kesto-damage), and imports it in the emulated host on a copy
# of this application folder:
#   bash examples/app/damaged.sh BUILD_DIR [DAMAGE]     (default paragraph-removed; run
#                                                       BUILD_DIR/examples/damage/kesto-damage
#                                                       for the list)
# The import ends in "Import failed"; the run prints the general log's lines that name the story
# and what it lacks, and the imported document, whose damaged stories keep their source text.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: damaged.sh BUILD_DIR [DAMAGE]}" && pwd)
damage=${2:-paragraph-removed}
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-damaged.XXXXXX")
cp -r "$here/." "$work/"
cp "$here/../documents/export.qxp" "$here/../documents/minimal.qxp" "$work/"
cd "$work"
source "$here/../lib/host-runs.sh"
xthost=("$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so")
for doc in export minimal; do
  export_script "$doc.qxp" > "export-$doc.xts"
  "${xthost[@]}" --script "$work/export-$doc.xts" > "export-$doc.transcript"
done
"$build/examples/pseudo-translate/kesto-pseudo-translate" export.dwq export-translated.dwq
"$build/examples/damage/kesto-damage" "$damage" export-translated.dwq "$damage.dwq" minimal.dwq
cat > import-damaged.xts <<XTS
start
menu "Import Verbant file"
open * $damage.dwq
save * $damage.qxp
dialog 104
  press 1
quit
XTS
"${xthost[@]}" --script "$work/import-damaged.xts" > import.transcript
grep '^####[^#]' KestoLogfile.txt >&2 || true
echo "general log: $work/KestoLogfile.txt" >&2
echo "imported document: $work/$damage.qxp"
