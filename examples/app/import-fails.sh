#!/usr/bin/env bash
# Imports a translation where its document cannot or should not go, in the emulated host on a
# copy of this application folder:
#   bash examples/app/import-fails.sh [-v] BUILD_DIR [CASE]
# CASE is one of
#   disk-full-restoring     the disk fills up while the stored document is written out (the host's
#                           fault plan makes its file writes meet the system's error 28)
#   disk-full-saving        the disk fills up while the imported document is saved over an
#                           earlier import
#   container-as-output     the save dialog is answered with the container itself
#   write-protected-target  the save dialog is answered with an earlier document set to 0444
#   disk-full-exporting     the export's container outgrows what the system lets the host write
#                           (a file size limit, as a full disk stops a write)
#   final-save-failing      the disk answers the export's final save of the document with an
#                           input/output error: the document keeps its file, no exchange file is
#                           put in place, and the export ends failed
# (default: all of them). Each ends as a failed command; the run prints the result dialog, the
# general log's ERROR lines, which name the file and the system's reason, and the checksums before
# and after of what the command reads and what it writes (an import's container and target
# document, an export's document and container), which show that nothing was lost. -v (or
# KESTO_VERBOSE=1) also prints the host's transcripts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
cases=${args[1]:-"disk-full-restoring disk-full-saving container-as-output write-protected-target disk-full-exporting final-save-failing"}
make_work import-fails
translated_export "$build" "$work"
sum() { if [ -e "$1" ]; then sha256sum < "$1" | cut -c1-16; else echo none; fi; }
for case in $cases; do
  faults=""
  answers=""
  container="$case.dwq"
  target="$case.qxp"
  cp export-translated.dwq "$container"
  case $case in
    disk-full-restoring) faults="fail write:FIO-6 with 28" ;;
    disk-full-saving) faults="fail write:DOC-11 with 28"; cp export.qxp "$target" ;;
    container-as-output) target=$container ;;
    write-protected-target) cp export.qxp "$target"; chmod 444 "$target"; answers=$'alert 22100 press 1\n' ;;
    disk-full-exporting) target="$case-export.dwq"; cp export.dwq "$target" ;;
    # The first save is the copy the container stores, the second the document's own.
    final-save-failing) faults="fail write:NEW-3 after 1 with 5"; target="$case-export.dwq" ;;
    *) echo "unknown case $case" >&2; exit 2 ;;
  esac
  # An export reads the document and writes the container; an import reads the container and
  # writes the document.
  labels=(container target)
  case $case in disk-full-exporting|final-save-failing) container=export.qxp; labels=(document container) ;; esac
  echo "== $case"
  echo "before: ${labels[0]} $(sum "$container") ${labels[1]} $(sum "$target")"
  rm -f KestoLogfile.txt
  if [ "$case" = final-save-failing ]; then
    printf '%s\nstart\nopen-document export.qxp\nmenu "Export current document"\nsave * %s\ndialog 112\n  press 1\nquit\n' \
      "$faults" "$target" > "$case.xts"
    host_run "$case.transcript" --script "$work/$case.xts" || echo "xthost failed"
  elif [ "$case" = disk-full-exporting ]; then
    printf 'start\nopen-document export.qxp\nmenu "Export current document"\nsave * %s\ndialog 112\n  press 1\nquit\n' \
      "$target" > "$case.xts"
    # A signal would end the host; the write itself fails with the system's error instead.
    (trap '' XFSZ; ulimit -f 48; host_run "$case.transcript" --script "$work/$case.xts") || echo "xthost failed"
  else
    printf '%s\nstart\nmenu "Import Verbant file"\nopen * %s\nsave * %s\n%sdialog 104\n  press 1\nquit\n' \
      "$faults" "$container" "$target" "$answers" > "$case.xts"
    host_run "$case.transcript" --script "$work/$case.xts" || echo "xthost failed"
  fi
  outcome "$case.transcript"
  grep -a -E 'ERROR|ActionPerformed' KestoLogfile.txt | sed "s/ *\$//; s|$work/||g" || true
  echo "after:  ${labels[0]} $(sum "$container") ${labels[1]} $(sum "$target")"
done
