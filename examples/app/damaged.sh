#!/usr/bin/env bash
# Exports a shipped document, translates it with kesto-pseudo-translate, damages the translation
# as translation tools were seen to (kesto-damage), and imports it in the emulated host on a copy
# of this application folder:
#   bash examples/app/damaged.sh [-v] BUILD_DIR [DAMAGE]   (default paragraph-removed; run
#                                                         BUILD_DIR/examples/damage/kesto-damage
#                                                         for the list)
# The import script answers only the open and save dialogs; the host answers what comes
# besides with its defaults (the result dialog, which says "Import done" or "Import failed", and
# the alerts of a stored document that the host refuses). The run prints the result, the general
# log's lines that name each story the import left as it was and why (or the container that
# cannot be opened and why), and what became of the imported document: its damaged stories keep
# their source text. Most damages end in "Import failed"; a container that cannot be opened
# (code-file-cut-short, two-books, two-documents, no-summary-stream, string-removed) gives no
# document. Some import ("Import done"): nul-characters and working-boxes-of-the-last-layout-only,
# whose log says what the import left out or where it found no formatting samples; run-hidden and
# paragraph-style-renamed, whose changes the import does not apply; maxuniqid-changed,
# source-data-type-changed and summary-without-versions, values that tools rewrite. -v (or
# KESTO_VERBOSE=1) also prints the host's transcripts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
damage=${args[1]:-paragraph-removed}
damages=$("$build/examples/damage/kesto-damage" 2>&1 || true)
if ! grep -q -w -e "$damage" <<< "$damages"; then
  echo "damaged.sh: kesto-damage knows no damage $damage (run $build/examples/damage/kesto-damage for the list)" >&2
  exit 2
fi
make_work damaged
cp -r "$here/." "$work/"
cp "$here/../documents/export.qxp" "$here/../documents/minimal.qxp" "$work/"
cd "$work"
for doc in export minimal; do
  export_script "$doc.qxp" > "export-$doc.xts"
  host_run "export-$doc.transcript" --script "$work/export-$doc.xts"
done
"$build/examples/pseudo-translate/kesto-pseudo-translate" export.dwq export-translated.dwq
"$build/examples/damage/kesto-damage" "$damage" export-translated.dwq "$damage.dwq" minimal.dwq
printf 'start\nmenu "Import Verbant file"\nopen * %s.dwq\nsave * %s.qxp\nquit\n' "$damage" "$damage" > import-damaged.xts
host_run import.transcript --auto --script "$work/import-damaged.xts"
result=$(result_text import.transcript)
echo "$damage.dwq: $result"
said=$(grep -a -E '^####[^#]|^ERROR:|^ -> |^story [0-9]+: |^layout [0-9]+ of the stored document' KestoLogfile.txt |
  sed "s/ *\$//; s/^####//; s/^ERROR: *//; s/^ -> *//; s|$work/||g; s/^/  /" || true)
[ -z "$said" ] || echo "$said"
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
if [ ! -e "$damage.qxp" ]; then
  echo "imported document: none (the container cannot be opened, or the host refuses the document it stores)"
elif [ "$result" = "Import done" ]; then
  echo "imported document: $(shown "$work/$damage.qxp"): this damage imports${said:+ (the lines above say what the import did about it)}"
else
  echo "imported document: $(shown "$work/$damage.qxp"): the stories named above keep their source text"
fi
