#!/usr/bin/env bash
# Two hosts started on one status file, and a host that crashes, on a working copy of the
# batch.ini job in the temporary folder: the first host activates the job and then waits on a
# pipe that nobody writes (its script opens it as a document); a second host started meanwhile
# leaves the job alone and says so in the general log; the first host is then killed, and a
# third host takes over the claims the dead one left, runs the job and removes the request.
#     bash examples/batch/two-hosts.sh [-v] BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/host-runs.sh"
start_example "$@"
make_work two-hosts
mkdir -p "$work/XTensions" "$work/Batch" "$work/Translated" "$work/Folders"
cp -r "$here/../app/Folders/Books" "$work/Folders/"
sed "s|@WORK@|$work|g" "$here/kesto.ini" > "$work/XTensions/kesto.ini"
sed "s|@WORK@|$work|g" "$here/batch.ini" > "$work/Batch/batch.ini"
request="$work/Registry/HKEY_LOCAL_MACHINE/SOFTWARE/OMRA Translation Technology/Kesto 50 Batch Mode"
mkdir -p "$request"
mkfifo "$work/wait.qxp"
printf 'start\nopen-document wait.qxp\nidle 3\nquit\n' > "$work/first.xts"
cp "$here/batch.xts" "$work/"
cd "$work"
# With -v each host's transcript goes to the terminal, the second's and third's after the first's
# has begun.
quiet=--quiet out=/dev/null
[ "${KESTO_VERBOSE:-}" != 1 ] || { quiet=; out=/dev/stderr; }
xthost=("$build/platform/host/xthost" --app "$work" --module "$build/Plugin/XTension/Kesto.so" $quiet --script)
"${xthost[@]}" first.xts >"$out" 2>&1 &
first=$!
until grep -q "^Active=True" Batch/batch.ini 2>/dev/null; do sleep 0.01; done
"${xthost[@]}" batch.xts >"$out" 2>&1
echo "second host: $(ls Translated | wc -l) files in Translated; log: $(grep -h 'leaves it alone' KestoLogfile.txt | sed "s|$work/||g")" >&2
kill -9 "$first"
wait "$first" 2>/dev/null || true
"${xthost[@]}" batch.xts >"$out" 2>&1
echo "third host: archived status file: $(ls Batch/batch.ini_*); Translated: $(ls Translated | tr '\n' ' ')" >&2
echo "request key: $([ -e "$request" ] && echo "still there" || echo "removed")" >&2
[ "${KESTO_KEEP:-}" != 1 ] || echo "general log: $work/KestoLogfile.txt" >&2
