#!/usr/bin/env bash
# Export, stand-in translation and import of a shipped document, in the emulated host on a copy of
# this application folder:
#   bash examples/app/roundtrip.sh BUILD_DIR [DOCUMENT]     (DOCUMENT from examples/documents;
#                                                          default export.qxp)
# The document is exported from the menu into NAME.dwq, kesto-pseudo-translate writes
# NAME-translated.dwq, " Import Verbant file" turns that into NAME-translated.qxp, which the host
# then checks; the run prints its path and fails when any step did.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: roundtrip.sh BUILD_DIR [DOCUMENT]}" && pwd)
doc=${2:-export.qxp}
name=${doc%.*}
source "$here/../lib/host-runs.sh"
make_work roundtrip
cp -r "$here/." "$work/"
cp "$here/../documents/$doc" "$work/"
cd "$work"
export_script "$doc" > export-doc.xts
cat > import-doc.xts <<XTS
start
menu "Import Verbant file"
open * $name-translated.dwq
save * $name-translated.qxp
dialog 103
  press 1
quit
XTS
xthost=("$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so")
"${xthost[@]}" --script "$work/export-doc.xts" > export.transcript
"$build/examples/pseudo-translate/kesto-pseudo-translate" "$name.dwq" "$name-translated.dwq"
"${xthost[@]}" --script "$work/import-doc.xts" > import.transcript
"$build/platform/host/xthost" doc check "$name-translated.qxp" >&2
echo "general log: $work/KestoLogfile.txt" >&2
echo "imported document: $work/$name-translated.qxp"
