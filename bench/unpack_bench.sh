#!/bin/bash
# Hand-run benchmark of the package extraction alone (bench/README.md, "unpack_bench"):
# the installer's extractor (`base_bench.exe --unpack`, timed inside its process, so no
# Wine start-up) beside `7zz x -mmt1` of the same archive, for a solid and a non-solid
# archive of the sample package, paired in each round.
#   bench/unpack_bench.sh [files] [bytes]        after scripts/setup.sh
# Environment:
#   RUNS=n        rounds (default 5)
#   BASE=folder   a second build's bin folder (holding base_bench.exe, e.g. a copy of
#                 out/build/bin from an earlier commit): each round runs both, in
#                 alternating order, and the table gets a column for each and their ratio.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${BUILD:-$REPO/out/build}
WORK=${WORK:-$REPO/out/unpack-bench}
FILES=${1:-3000}
BYTES=${2:-150000000}
RUNS=${RUNS:-5}
BASE=${BASE:-}
rm -rf "$WORK"
mkdir -p "$WORK/results"
now() { date +%s.%N; }

LABELS=(new)
BENCHES=("$BUILD/bin/base_bench.exe")
if [ -n "$BASE" ]; then
  LABELS=(base new)
  BENCHES=("$BASE/base_bench.exe" "$BUILD/bin/base_bench.exe")
fi
bash "$REPO/testing/e2e/make-sample-package.sh" "$BUILD/fake_program/velum_fake_program.exe" \
  "$BUILD/bin/velum_installer.exe" "$WORK/sample" "$FILES" "$BYTES" > /dev/null
# The same files packed as the build server packs them, and once more one block per file.
mv "$WORK/sample/package.7z" "$WORK/solid.7z"
(cd "$WORK/sample/package" && 7zz a -bso0 -bsp0 -bse1 -m0=LZMA2 -mx=5 -ms=off ../../nonsolid.7z .)
export VELUM_WINEPREFIX=$WORK/prefix
"$BUILD/wine-run.sh" cmd /c exit 0 > /dev/null 2>&1
win() { echo "Z:${1//\//\\}"; }

for round in $(seq 1 "$RUNS"); do
  for archive in solid nonsolid; do
    order=("${!LABELS[@]}")
    if [ $((round % 2)) -eq 0 ] && [ ${#LABELS[@]} -eq 2 ]; then order=(1 0); fi
    for i in "${order[@]}"; do
      rm -rf "$WORK/out"
      sync
      "$BUILD/wine-run.sh" "${BENCHES[$i]}" --unpack "$(win "$WORK/$archive.7z")" \
        "$(win "$WORK/out")" > "$WORK/results/${LABELS[$i]}-$archive-$round"
    done
    rm -rf "$WORK/out"
    sync
    start=$(now)
    7zz x -mmt1 -bso0 -bsp0 "-o$WORK/out" "$WORK/$archive.7z"
    echo "seconds $(echo "$(now) - $start" | bc)" > "$WORK/results/7zz-$archive-$round"
  done
  echo "round $round of $RUNS done" >&2
done
rm -rf "$WORK/out"

echo "archives: solid $(($(stat -c %s "$WORK/solid.7z") / 1048576)) MB," \
  "non-solid $(($(stat -c %s "$WORK/nonsolid.7z") / 1048576)) MB; load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$WORK/results" "$RUNS" "${LABELS[@]}" <<'PY'
import os, statistics, sys
folder, runs, labels = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def read(name):
    words = open(os.path.join(folder, name)).read().split()
    return {k: float(v) for k, v in zip(words[::2], words[1::2])}

print('medians of %d paired rounds (seconds; ratios are medians of the per-round ratios):' % runs)
for archive in ('solid', 'nonsolid'):
    seven = [read('7zz-%s-%d' % (archive, r))['seconds'] for r in range(1, runs + 1)]
    print('  %s: 7zz x -mmt1 %.3f (%.3f..%.3f)' % (archive, statistics.median(seven), min(seven), max(seven)))
    values = {l: [read('%s-%s-%d' % (l, archive, r)) for r in range(1, runs + 1)] for l in labels}
    for l in labels:
        seconds = [v['seconds'] for v in values[l]]
        ratio = [s / t for s, t in zip(seconds, seven)]
        print('    %-5s %.3f s (%.3f..%.3f)  / 7zz -mmt1 %.2f  peak working set %.0f MB, private %.0f MB'
              % (l, statistics.median(seconds), min(seconds), max(seconds), statistics.median(ratio),
                 max(v['peak_working_set_mb'] for v in values[l]),
                 max(v['peak_private_mb'] for v in values[l])))
    if len(labels) == 2:
        paired = [n['seconds'] / b['seconds'] for b, n in zip(values['base'], values['new'])]
        print('    new/base %.2f' % statistics.median(paired))
PY
