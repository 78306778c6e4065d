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
exported_copy "$build" "$work" "$doc"
"$build/examples/pseudo-translate/kesto-pseudo-translate" "$name.dwq" "$name-translated.dwq"
import_checked "$name-translated.dwq" "$name-translated.qxp"
echo "general log: $work/KestoLogfile.txt" >&2
echo "imported document: $work/$name-translated.qxp"
