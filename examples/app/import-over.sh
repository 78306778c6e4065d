#!/usr/bin/env bash
# Imports over documents that are already there, in the emulated host on a copy of this
# application folder:
#   bash examples/app/import-over.sh [-v] BUILD_DIR
# "Import Verbant file" (a translation of export.qxp into export-translated.qxp) and "Import
# multiple Verbant files" (Folders/Translated into Folders/Imported) each run twice over a
# document of an earlier import: first while every save of the host fails (a full disk), which
# ends as a failed import and keeps the earlier document as it was, then with the host well,
# which replaces it with the new one. After each step the run prints the checksum of each target
# and the number of other files beside it, and what the result dialogs said. -v (or
# KESTO_VERBOSE=1) also prints the host's transcripts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
make_work import-over
translated_export "$build" "$work"
# The documents of an earlier import.
cp export.qxp export-translated.qxp
cp export.qxp Folders/Imported/report.qxp
state() {
  echo "$1 one: $(sha256sum < export-translated.qxp | cut -c1-64) beside: $(ls -A | grep -c '\.qxp$' || true)"
  echo "$1 folder: $(sha256sum < Folders/Imported/report.qxp | cut -c1-64) beside: $(ls -A Folders/Imported | wc -l)"
}
state before
for step in full well; do
  fault=""
  dialog=103
  if [ $step = full ]; then fault='fail DOC-11 with -34'; dialog=104; fi
  printf '%s\nstart\nmenu "Import Verbant file"\nopen * export-translated.dwq\nsave * export-translated.qxp\ndialog %s\n  press 1\nquit\n' \
    "$fault" "$dialog" > "import-$step.xts"
  host_run "import-$step.transcript" --script "$work/import-$step.xts" || echo "import $step: xthost failed"
  echo "$step import: $(result_text "import-$step.transcript")"
  cat > "folder-$step.xts" <<XTS
$fault
start
menu "Import multiple Verbant files"
dialog 115
  press 1002
  folder "Select folder" Folders/Translated
  press 1004
  folder "Select folder" Folders/Imported
  press 1023
dialog 117
  press 1017
alert 22100 press 1
quit
XTS
  host_run "folder-$step.transcript" --script "$work/folder-$step.xts" || echo "folder $step: xthost failed"
  echo "$step folder import: $(outcome "folder-$step.transcript" | tr '\n' ' ')"
  not_converted KestoLogfile.txt
  state "$step"
done
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
