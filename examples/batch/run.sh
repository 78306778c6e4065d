#!/usr/bin/env bash
# A batch run as an outside controller starts one, on a working copy in the temporary folder:
#   1. the request key "Kesto 50 Batch Mode" below "SOFTWARE\OMRA Translation Technology" of
#      HKEY_LOCAL_MACHINE, in the host's key store <app>/Registry;
#   2. the status file at the path of the setting BatchFilePath (here <app>/Batch/batch.ini);
#   3. the host, started on the application folder.
#     bash examples/batch/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-batch.XXXXXX")
mkdir -p "$work/XTensions" "$work/Batch" "$work/Translated" "$work/Folders"
cp -r "$here/../app/Folders/Books" "$work/Folders/"
sed "s|@WORK@|$work|g" "$here/kesto.ini" > "$work/XTensions/kesto.ini"
sed "s|@WORK@|$work|g" "$here/batch.ini" > "$work/Batch/batch.ini"
mkdir -p "$work/Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode"
cp "$here/batch.xts" "$work/"
cd "$work"
"$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" --script "$work/batch.xts"
echo "archived status file: $(ls "$work"/Batch/batch.ini_*)" >&2
echo "exchange files: $work/Translated; general log: $work/KestoLogfile.txt" >&2
