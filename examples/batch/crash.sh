#!/usr/bin/env bash
# A batch run that crashes, and the controller's next run, on a working copy in the temporary
# folder: the host exports the example tree into Translated (which holds report.dwq of an
# earlier run) and PDFs into Pdf, stops itself at a point of a writer (its script's stop-at
# line) and is killed there with SIGKILL, as a crash would end it. The controller then writes
# the job again and starts the host once more.
#     bash examples/batch/crash.sh [-v] BUILD_DIR [POINT]
# POINT is where the host stops: "XFJ12/101 after 1" (the default: while an exchange file is
# written, as the stored document is read into it), "file.written" (a saved document is
# written beside its file, not yet renamed) or "pdf.page after 1" (a page of a PDF is
# written). After the kill, each target is its earlier content or absent, never empty or cut;
# after the next run, every target is whole and no temporary file of the killed run is left.
# Exit status 1 when either does not hold.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
point=${args[1]:-XFJ12/101 after 1}
make_work crash
mkdir -p "$work/XTensions" "$work/Batch" "$work/Translated" "$work/Pdf" "$work/Folders"
cp -r "$here/../app/Folders/Books" "$work/Folders/"
cp "$here/earlier-run/report.dwq" "$work/Translated/"
sed "s|@WORK@|$work|g" "$here/kesto.ini" > "$work/XTensions/kesto.ini"
job() {
  printf '[General]\nMode=Export\nRecursive=True\n\n[Path]\nSource=%s\nTarget=%s\nPdfDir=%s\n' \
    "$work/Folders/Books" "$work/Translated" "$work/Pdf" > "$work/Batch/batch.ini"
}
host() {
  if [ "${KESTO_VERBOSE:-}" = 1 ]; then
    exec "$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" --script "$1" >&2
  fi
  exec "$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" --script "$1" --quiet \
    >/dev/null 2>&1
}
# Targets that are empty, and temporary files of the module (.tmp) and the host (.part).
check() {
  local bad=0 empty temps
  empty=$(find "$work/Translated" "$work/Pdf" -type f -size 0 ! -name '.*')
  temps=$(find "$work/Translated" "$work/Pdf" "$work/Folders" "$work/Temp" -name '*.tmp' -o -name '*.part' \
    -o -name 'KS_PdfProbe_*' 2>/dev/null || true)
  [ -z "$empty" ] || { echo "empty targets:"; echo "$empty"; bad=1; }
  [ -z "$temps" ] || echo "temporary files:"$'\n'"${temps//"$work/"/}"
  (cd "$work" && find Translated Pdf -type f -printf '  %p %s bytes\n' | sort)
  return $bad
}

job
printf 'clock 2006-12-05 08:30:07\nstop-at %s\nstart\nidle 3\nquit\n' "$point" > "$work/killed.xts"
(host "$work/killed.xts") &
pid=$!
state=
for _ in $(seq 1 400); do
  state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
  [ "$state" = T ] || [ -z "$state" ] && break
  sleep 0.05
done
if [ "$state" != T ]; then
  wait "$pid" || true
  echo "the host never reached $point" >&2
  exit 1
fi
kill -9 "$pid"
wait "$pid" 2>/dev/null || true
status=0
echo "after the kill at $point:"
check || status=1

job
cp "$here/batch.xts" "$work/"
(host "$work/batch.xts")
echo "after the next run:"
check || status=1
if [ -n "$(find "$work/Translated" "$work/Pdf" "$work/Folders" "$work/Temp" -name '*.tmp' -o -name '*.part' \
  -o -name 'KS_PdfProbe_*' 2>/dev/null)" ]; then
  echo "the next run left temporary files" >&2
  status=1
fi
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
exit $status
