#!/usr/bin/env bash
# Runs the export benchmark for 1,000 and 10,000 paragraphs, each run in its own process (five
# runs per size; the fastest counts, as the machine may be shared), and checks that the
# processor time per paragraph at 10,000 is within 20% of that at 1,000.
#   bash bench/export/run.sh BUILD_DIR
set -euo pipefail
bench="${1:?usage: run.sh BUILD_DIR}/bench/export/ExportBench"
best() {
  for _ in 1 2 3 4 5; do "$bench" "$1" 2>/dev/null | grep '^paragraphs'; done |
    sed -E 's/^(.*processor ([0-9.]+) us.*)$/\2 \1/' | sort -g | head -1 | cut -d' ' -f2-
}
small=$(best 1000)
large=$(best 10000)
echo "$small"
echo "$large"
per() { sed -E 's/.*processor ([0-9.]+) us.*/\1/' <<<"$1"; }
awk -v a="$(per "$small")" -v b="$(per "$large")" 'BEGIN {
  if (a + 0 <= 0 || b + 0 <= 0) exit 1;
  ratio = b / a; printf "processor time per paragraph, 10,000 against 1,000: %.2f\n", ratio;
  exit (ratio < 0.8 || ratio > 1.2) }'
