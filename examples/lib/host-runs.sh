# Shared by the example and benchmark scripts; sourced, not run.

# Makes the working folder of an example, kesto-NAME.XXXXXX in the temporary folder, into $work.
# It is removed when the script ends, unless the environment asks to keep it with KESTO_KEEP=1.
make_work() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/kesto-$1.XXXXXX")
  trap end_work EXIT
}

end_work() {
  local status=$?
  if [ "${KESTO_KEEP:-}" = 1 ]; then
    echo "working copy kept: $work" >&2
  else
    chmod -R u+w "$work" 2>/dev/null || true
    rm -rf "$work"
    echo "working copy removed: $work (KESTO_KEEP=1 keeps it)" >&2
  fi
  return $status
}

# The text of the result dialog ("Import done", "Import failed", ...) in the host transcript FILE.
result_text() {
  awk '/"Result" opens$/ { found = 1; next } found && /^  "/ { sub(/^  "/, ""); sub(/"$/, ""); print; exit }' "$1"
}

# The host script that opens DOCUMENT and exports it from the menu into its default container.
export_script() {
  printf 'start\nopen-document %s\nmenu "Export current document"\nsave * default\ndialog 101\n  press 1\nquit\n' "$1"
}

# In the working folder WORK (the current folder afterwards), a copy of examples/app with the
# shipped DOCUMENT (from examples/documents), exported by the host of BUILD into its default
# container, NAME.dwq (its transcript export.transcript). Sets xthost, the host command on that
# folder with the module.
exported_copy() { # <build> <work> <document>
  local build=$1 work=$2 examples
  examples=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cp -r "$examples/app/." "$work/"
  cp "$examples/documents/$3" "$work/"
  cd "$work"
  xthost=("$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so")
  export_script "$3" > export-doc.xts
  "${xthost[@]}" --script "$work/export-doc.xts" > export.transcript
}

# The same with export.qxp, translated by kesto-pseudo-translate into export-translated.dwq.
translated_export() { # <build> <work>
  exported_copy "$1" "$2" export.qxp
  "$1/examples/pseudo-translate/kesto-pseudo-translate" export.dwq export-translated.dwq
}

# Imports the container DWQ of the working folder with " Import Verbant file" into OUT, which
# the run then has the host check; fails unless the import ends "Import done". Its transcript
# goes to import.transcript.
import_checked() { # <dwq> <out>
  printf 'start\nmenu "Import Verbant file"\nopen * %s\nsave * %s\ndialog 103\n  press 1\nquit\n' "$1" "$2" > import-doc.xts
  "${xthost[@]}" --script "$work/import-doc.xts" > import.transcript
  "${xthost[0]}" doc check "$2" >&2
}
