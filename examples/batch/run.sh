#!/usr/bin/env bash
# A batch run as an outside controller starts one, on a working copy in the temporary folder:
#   1. the request key "Kesto 50 Batch Mode" below "SOFTWARE\OMRA Translation Technology" of
#      HKEY_LOCAL_MACHINE, in the host's key store <app>/Registry;
#   2. the status file at the path of the setting BatchFilePath (here <app>/Batch/batch.ini);
#   3. the host, started on the application folder.
#     bash examples/batch/run.sh [-v] BUILD_DIR [JOB]
# JOB is the status file to write: batch.ini (the default) exports the example tree into
# Translated; same-folder.ini writes the exchange files and PDFs beside the documents, into a
# tree that also holds a damaged document, an exchange file without its document and somebody's
# PDF; earlier-run.ini exports the tree with a damaged document into Translated, which holds the
# exchange files and PDF of an earlier run; disk-full.ini exports into Translated, which holds
# the exchange file of an earlier run, while every save of the host fails (disk-full.xts);
# names.ini exports a tree with a document whose name is as long as the system allows and one
# that only its owner may read, whose results only its owner may read too; twins.ini writes beside the documents of a tree where twin.qxd
# and twin.qxp would give one twin.dwq and a document is named layout.dwq; windows.ini is the
# batch.ini job as a Windows program writes it, in UTF-16 with a byte-order mark and CR LF, and
# windows-unmarked.ini the same in UTF-16 without the mark. A job's host script is JOB with ".xts" for ".ini" when there is one, else batch.xts. The script
# answers no alert: a run that waits for a user fails. The run prints the archived status file's
# Count and Total (and its Error, for a job that cannot run) and the files the job did not
# convert; -v (or KESTO_VERBOSE=1) also prints the host's transcript.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
job=${args[1]:-batch.ini}
[ -f "$here/$job" ] || { echo "run.sh: no job $here/$job" >&2; exit 2; }
make_work batch
mkdir -p "$work/XTensions" "$work/Batch" "$work/Translated" "$work/Folders"
cp -r "$here/../app/Folders/Books" "$work/Folders/"
sed "s|@WORK@|$work|g" "$here/kesto.ini" > "$work/XTensions/kesto.ini"
sed "s|@WORK@|$work|g" "$here/$job" > "$work/Batch/batch.ini"
case "$job" in
  windows.ini|windows-unmarked.ini)
    { if [ "$job" = windows.ini ]; then printf '\xFF\xFE'; fi
      sed '1s/^\xEF\xBB\xBF//' "$work/Batch/batch.ini" | iconv -f UTF-8 -t UTF-16LE; } > "$work/Batch/batch.utf16"
    mv "$work/Batch/batch.utf16" "$work/Batch/batch.ini" ;;
  twins.ini)
    cp "$here/twins/"* "$work/Folders/Books/" ;;
  same-folder.ini)
    cp "$here/../documents/damaged/truncated.qxp" "$work/Folders/Books/damaged.qxp"
    cp "$here/same-folder/"* "$work/Folders/Books/" ;;
  earlier-run.ini)
    cp "$here/../documents/damaged/truncated.qxp" "$work/Folders/Books/damaged.qxp"
    cp "$here/earlier-run/"* "$work/Translated/" ;;
  disk-full.ini)
    cp "$here/disk-full/"* "$work/Translated/" ;;
  names.ini)
    cp "$work/Folders/Books/report.qxp" "$work/Folders/Books/$(printf 'n%.0s' $(seq 251)).qxp"
    chmod 600 "$work/Folders/Books/report.qxp" ;;
esac
script=${job%.ini}.xts
[ -f "$here/$script" ] || script=batch.xts
mkdir -p "$work/Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode"
cp "$here/$script" "$work/"
cd "$work"
status=0
host_run "$work/host.transcript" --script "$work/$script" || status=$?
outcome "$work/host.transcript"
archive=$(ls "$work"/Batch/batch.ini_* 2>/dev/null || true)
[ -n "$archive" ] || { echo "run.sh: the job was not archived (-v shows the host's transcript)" >&2; exit 1; }
echo "archived status file: $(shown "$archive"): $(tr -d '\000\r' < "$archive" | grep -a -E '^(Count|Total|Error)=' | paste -sd ' ')"
not_converted "$work/KestoLogfile.txt"
[ "$status" = 0 ] || { echo "run.sh: the host's run failed (-v shows its transcript)" >&2; exit 1; }
if [ "${KESTO_KEEP:-}" = 1 ]; then
  if [ "$job" = same-folder.ini ] || [ "$job" = twins.ini ]; then
    echo "exchange files and PDFs: $work/Folders/Books; general log: $work/KestoLogfile.txt" >&2
  else
    echo "exchange files (and PDFs): $work/Translated; general log: $work/KestoLogfile.txt" >&2
  fi
fi
