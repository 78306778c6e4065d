#!/usr/bin/env bash
# Exports a shipped document, translates it with kesto-pseudo-translate, damages the translation
# as translation tools were seen to (kesto-damage), and imports it in the emulated host on a copy
# of this application folder:
#   bash examples/app/damaged.sh BUILD_DIR [DAMAGE]     (default paragraph-removed; run
#                                                       BUILD_DIR/examples/damage/kesto-damage
#                                                       for the list)
# The import ends in "Import failed"; the run prints that, the general log's lines that name the
# story and what it lacks (or the container that cannot be opened and why), and the imported
# document, whose damaged stories keep their source text (KESTO_KEEP=1 keeps the working copy,
# which is removed otherwise).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: damaged.sh BUILD_DIR [DAMAGE]}" && pwd)
damage=${2:-paragraph-removed}
source "$here/../lib/host-runs.sh"
make_work damaged
cp -r "$here/." "$work/"
cp "$here/../documents/export.qxp" "$here/../documents/minimal.qxp" "$work/"
cd "$work"
xthost=("$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so")
for doc in export minimal; do
  export_script "$doc.qxp" > "export-$doc.xts"
  "${xthost[@]}" --script "$work/export-$doc.xts" > "export-$doc.transcript"
done
"$build/examples/pseudo-translate/kesto-pseudo-translate" export.dwq export-translated.dwq
"$build/examples/damage/kesto-damage" "$damage" export-translated.dwq "$damage.dwq" minimal.dwq
# A container that cannot be opened ends the import before the save dialog; a stored document
# that the host refuses brings the host's alert and the module's.
case $damage in
  code-file-cut-short|two-books|two-documents|no-summary-stream) answers="" ;;
  stored-document-cut-short) answers=$'save * '"$damage"$'.qxp\nalert host press 1\nalert 22100 press 1' ;;
  *) answers="save * $damage.qxp" ;;
esac
cat > import-damaged.xts <<XTS
start
menu "Import Verbant file"
open * $damage.dwq
$answers
dialog 104
  press 1
quit
XTS
"${xthost[@]}" --script "$work/import-damaged.xts" > import.transcript
result_text import.transcript >&2
grep -a -E '^####[^#]|^ERROR:|^ -> ' KestoLogfile.txt | sed 's/ *$//' >&2 || true
echo "general log: $work/KestoLogfile.txt" >&2
if [ -e "$damage.qxp" ]; then
  echo "imported document: $work/$damage.qxp"
else
  echo "imported document: none"
fi
