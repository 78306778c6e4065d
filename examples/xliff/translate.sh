#!/usr/bin/env bash
# Export, translation with an XLIFF tool and import of a shipped document, in the emulated host on
# a copy of examples/app:
#   bash examples/xliff/translate.sh [-v] BUILD_DIR [DOCUMENT]   (DOCUMENT from
#                                                                examples/documents; default
#                                                                export.qxp)
# The document is exported from the menu into NAME.dwq; kesto-xliff extracts NAME.xlf (XLIFF 1.2)
# from it; translate-toolkit's podebug, a tool of nobody here, translates that into
# NAME-translated.xlf, every letter by a look-alike; kesto-xliff merges the translation into
# NAME-translated.dwq, and " Import Verbant file" turns that into NAME-translated.qxp, which the
# host then checks. The run prints each step's outcome and the imported document, and fails when
# any step did. -v (or KESTO_VERBOSE=1) also prints the host's transcripts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
shipped_document
make_work xliff
roundtrip_export
xliff=$build/Container/Xliff/kesto-xliff
"$xliff" extract "$name.dwq" -o "$name.xlf" --source-language en --target-language fr
podebug --progress=none --rewrite=unicode "$name.xlf" "$name-translated.xlf"
"$xliff" merge "$name.dwq" "$name-translated.xlf" -o "$name-translated.dwq"
echo "$name-translated.dwq: translated by podebug through $name.xlf"
roundtrip_import
