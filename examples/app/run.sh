#!/usr/bin/env bash
# Runs Kesto in the emulated host on a copy of this application folder, so that the settings the
# module writes back, its general log and the host's temporary folder stay out of the tree.
#   bash examples/app/run.sh [-v] BUILD_DIR [SCRIPT]   (SCRIPT relative to this folder;
#                                                      default scripts/export.xts)
# The default script exports a copy of examples/documents/export.qxp from the menu. The run
# prints what the module's dialogs and alerts said, the files a folder run did not convert, and
# for the default script the exchange file, and fails when none was written. -v (or
# KESTO_VERBOSE=1) also prints the host's transcript.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
script=${args[1]:-scripts/export.xts}
[ -f "$here/$script" ] || { echo "run.sh: no script $here/$script" >&2; exit 2; }
make_work app
cp -r "$here/." "$work/"
cp "$here/../documents/export.qxp" "$work/"
cd "$work"
status=0
host_run "$work/host.transcript" --script "$work/$script" || status=$?
outcome "$work/host.transcript"
not_converted "$work/KestoLogfile.txt"
[ "$status" = 0 ] || { echo "run.sh: the host's run failed (-v shows its transcript)" >&2; exit 1; }
if [ "$script" = scripts/export.xts ]; then
  if [ ! -s "$work/export.dwq" ]; then
    echo "run.sh: no .dwq was written" >&2
    exit 1
  fi
  echo "exchange file: $(shown "$work/export.dwq")"
fi
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
