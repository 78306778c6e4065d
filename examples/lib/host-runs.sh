# Shared by the example and benchmark scripts; sourced, not run.

# The options of every example script: -v (or KESTO_VERBOSE=1 in the environment) also prints
# the host's transcripts and its error stream; the other arguments go to $args.
take_options() {
  args=()
  local arg
  for arg in "$@"; do
    if [ "$arg" = -v ]; then KESTO_VERBOSE=1; else args+=("$arg"); fi
  done
}

# Sets $build, the absolute path of the build folder DIR; a folder without the host and the
# module built in it ends the script with one line that says so. SCRIPT names the script.
build_folder() {
  local script=$1 dir=${2:-}
  if [ -z "$dir" ]; then
    echo "usage: $script BUILD_DIR ... (the folder of cmake --build)" >&2
    exit 2
  fi
  if [ ! -x "$dir/platform/host/xthost" ] || [ ! -f "$dir/Plugin/XTension/Kesto.so" ]; then
    echo "$script: $dir holds no built xthost and Kesto.so (build: cmake -S . -B build && cmake --build build)" >&2
    exit 2
  fi
  build=$(cd "$dir" && pwd)
}

# The start of every example script: its options (take_options) and its build folder, the first
# argument (build_folder), under the script's own name.
start_example() {
  take_options "$@"
  build_folder "${0##*/}" "${args[0]:-}"
}

# Sets $doc, the shipped document of examples/documents that the second argument names (by
# default export.qxp), and $name, its name without the extension; a document that is not shipped
# ends the script with one line that says so.
shipped_document() {
  doc=${args[1]:-export.qxp}
  [ -f "$(dirname "${BASH_SOURCE[0]}")/../documents/$doc" ] || {
    echo "${0##*/}: no document $doc in examples/documents" >&2
    exit 2
  }
  name=${doc%.*}
}

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

# A file of the working copy as the end of the script leaves it: its full path when the copy is
# kept, else its name there.
shown() {
  if [ "${KESTO_KEEP:-}" = 1 ]; then echo "$1"; else echo "${1#"$work"/} (in the working copy)"; fi
}

# Runs xthost with the module on the working copy with the ARGUMENTS after TRANSCRIPT: its
# transcript and error stream go to the file TRANSCRIPT, and with -v to the terminal too.
# Answers the host's exit status.
host_run() {
  local transcript=$1
  shift
  if [ "${KESTO_VERBOSE:-}" = 1 ]; then
    "$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" "$@" 2>&1 | tee "$transcript"
    return "${PIPESTATUS[0]}"
  fi
  "$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" "$@" > "$transcript" 2>&1
}

# The text of the result dialog ("Import done", "Import failed", ...) in the host transcript FILE.
result_text() {
  awk '/"Result" opens$/ { found = 1; next } found && /^  "/ { sub(/^  "/, ""); sub(/"$/, ""); print; exit }' "$1"
}

# What the host transcript FILE says a user saw: each result dialog's and alert's text, and the
# host's errors.
outcome() {
  awk '/"Result" opens$/ { result = 1; next }
       result && /^  "/ { sub(/^  "/, ""); sub(/"$/, ""); print; result = 0; next }
       /^alert [0-9]+ .*opens/ { alert = 1; next }
       alert && /^  5 text "/ { sub(/^  5 text "/, ""); sub(/"$/, ""); if ($0 != "") print; alert = 0; next }
       /^error: / { print }' "$1"
}

# The general log LOG's list of files a run did not convert, each run's under its heading; the
# paths in the working copy, which goes at the end, without its folder.
not_converted() {
  local strip=
  [ "${KESTO_KEEP:-}" = 1 ] || strip="$work/"
  awk -v strip="$strip" '/^##### Not converted/ { list = 1; print; next }
       list && /^ +[0-9]+\.\) / { if (strip != "" && index($0, strip)) $0 = substr($0, 1, index($0, strip) - 1) substr($0, index($0, strip) + length(strip)); print; next }
       { list = 0 }' "$1" 2>/dev/null | sed 's/ *$//' || true
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
  host_run export.transcript --script "$work/export-doc.xts"
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
  host_run import.transcript --script "$work/import-doc.xts" || return
  "${xthost[0]}" doc check "$2" >&2
}

# The two ends of a round trip of the shipped document $doc in the working copy: the export,
# then the import of its translation $name-translated.dwq into $name-translated.qxp. Each prints
# its outcome and ends the script with what the host said when it failed.
roundtrip_export() {
  exported_copy "$build" "$work" "$doc" || { outcome export.transcript; exit 1; }
  echo "$doc: $(result_text export.transcript)"
}

roundtrip_import() {
  import_checked "$name-translated.dwq" "$name-translated.qxp" || { outcome import.transcript; exit 1; }
  echo "$name-translated.dwq: $(result_text import.transcript)"
  [ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
  echo "imported document: $(shown "$work/$name-translated.qxp")"
}
