#!/usr/bin/env bash
# Runs Kesto in the emulated host on a copy of this application folder, so that the settings the
# module writes back, its general log and the host's temporary folder stay out of the tree.
#   bash examples/app/run.sh BUILD_DIR [SCRIPT]     (SCRIPT relative to this folder;
#                                                     default scripts/menus.xts)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [SCRIPT]}" && pwd)
script=${2:-scripts/menus.xts}
work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-app.XXXXXX")
cp -r "$here/." "$work/"
cd "$work"
"$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" \
  --script "$work/$script"
echo "general log: $work/KestoLogfile.txt" >&2
