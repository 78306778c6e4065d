#!/usr/bin/env bash
# Runs Kesto in the emulated host on a copy of this application folder, so that the settings the
# module writes back, its general log and the host's temporary folder stay out of the tree.
#   bash examples/app/run.sh BUILD_DIR [SCRIPT]     (SCRIPT relative to this folder;
#                                                     default scripts/export.xts)
# The default script exports a copy of examples/documents/export.qxp from the menu; the run then
# prints where the ".dwq" went and fails when none was written.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [SCRIPT]}" && pwd)
script=${2:-scripts/export.xts}
source "$here/../lib/host-runs.sh"
make_work app
cp -r "$here/." "$work/"
cp "$here/../documents/export.qxp" "$work/"
cd "$work"
"$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" \
  --script "$work/$script"
echo "general log: $work/KestoLogfile.txt" >&2
if [ "$script" = scripts/export.xts ]; then
  if [ ! -s "$work/export.dwq" ]; then
    echo "run.sh: no .dwq was written" >&2
    exit 1
  fi
  echo "exchange file: $work/export.dwq"
fi
