#!/usr/bin/env bash
# Export, stand-in translation and import of a shipped document, in the emulated host on a copy of
# this application folder:
#   bash examples/app/roundtrip.sh [-v] BUILD_DIR [DOCUMENT]   (DOCUMENT from examples/documents;
#                                                              default export.qxp)
# The document is exported from the menu into NAME.dwq, kesto-pseudo-translate writes
# NAME-translated.dwq, " Import Verbant file" turns that into NAME-translated.qxp, which the host
# then checks; the run prints each step's outcome and the imported document, and fails when any
# step did. -v (or KESTO_VERBOSE=1) also prints the host's transcripts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
shipped_document
make_work roundtrip
roundtrip_export
"$build/examples/pseudo-translate/kesto-pseudo-translate" "$name.dwq" "$name-translated.dwq"
echo "$name-translated.dwq: translated by kesto-pseudo-translate"
roundtrip_import
