#!/usr/bin/env bash
# A controller that writes its next job while the host still runs the first one, on a working
# copy in the temporary folder: the batch.ini job over a tree of 200 documents; as soon as the
# status file shows the first file counted, the controller replaces the file with a job that
# exports one document into Next. The host finishes the first job, archives it, then runs the
# second: both archives are listed, and Next holds the second job's exchange file.
#     bash examples/batch/next-job.sh [-v] BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
make_work next-job
mkdir -p "$work/XTensions" "$work/Batch" "$work/Translated" "$work/Folders/Books" "$work/Next"
for i in $(seq 1 200); do cp "$here/../app/Folders/Books/report.qxp" "$work/Folders/Books/doc$i.qxp"; done
sed "s|@WORK@|$work|g" "$here/kesto.ini" > "$work/XTensions/kesto.ini"
sed "s|@WORK@|$work|g" "$here/batch.ini" > "$work/Batch/batch.ini"
cp "$here/batch.xts" "$work/"
(
  until grep -q "^Count=[1-9]" "$work/Batch/batch.ini" 2>/dev/null; do sleep 0.001; done
  printf '[General]\nMode=Export\n[Path]\nSource=%s\nTarget=%s\n' "$work/Folders/Books/doc1.qxp" "$work/Next" \
    > "$work/Batch/next.tmp"
  mv "$work/Batch/next.tmp" "$work/Batch/batch.ini"
) &
controller=$!
cd "$work"
host_run "$work/host.transcript" --script "$work/batch.xts"
wait "$controller"
for archive in "$work"/Batch/batch.ini_*; do
  echo "archived status file: $(shown "$archive") ($(grep -h '^Count=' "$archive") of $(grep -h '^Total=' "$archive"))" >&2
done
echo "second job's exchange file: $(shown "$(ls "$work"/Next/*.dwq)")" >&2
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
