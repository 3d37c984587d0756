#!/bin/bash
# Hand-run benchmark of the UI pump (bench/README.md, "ui_pump_bench"): N chained window
# messages through a UI MessageLoop with no task waiting (`base_bench.exe --ui-pump N`,
# timed inside the process), in paired rounds of this build and, with BASE, another one.
#   bench/ui_pump_bench.sh [messages]             after scripts/setup.sh
# Environment:
#   RUNS=n        rounds (default 10)
#   BASE=folder   a second build's bin folder (holding base_bench.exe, e.g. a copy of
#                 out/build/bin from an earlier commit): each round runs both, in
#                 alternating order; the summary gives each side's min..max and median
#                 and the ratio new/base of the paired rounds.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${BUILD:-$REPO/out/build}
MESSAGES=${1:-100000}
RUNS=${RUNS:-10}
BASE=${BASE:-}
LABELS=(new)
BENCHES=("$BUILD/bin/base_bench.exe")
if [ -n "$BASE" ]; then
  LABELS=(base new)
  BENCHES=("$BASE/base_bench.exe" "$BUILD/bin/base_bench.exe")
fi
RESULTS=$(mktemp)
trap 'rm -f "$RESULTS"' EXIT
"$BUILD/wine-run.sh" cmd /c exit 0 > /dev/null 2>&1
for round in $(seq 1 "$RUNS"); do
  order=$(seq 0 $((${#LABELS[@]} - 1)))
  if [ $((round % 2)) = 0 ]; then order=$(echo "$order" | tac); fi
  for i in $order; do
    line=$("$BUILD/wine-run.sh" "${BENCHES[$i]}" --ui-pump "$MESSAGES" 2>/dev/null | tr -d '\r')
    seconds=${line%% s *}
    echo "round $round ${LABELS[$i]}: $seconds s (load $(cut -d' ' -f1-3 /proc/loadavg))"
    echo "$round ${LABELS[$i]} $seconds" >> "$RESULTS"
  done
done
python3 - "$RESULTS" "$MESSAGES" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
count = int(sys.argv[2])
by = {}
for round_, label, seconds in rows:
    by.setdefault(label, {})[round_] = float(seconds)
for label, times in by.items():
    t = sorted(times.values())
    print(f"{label}: {count} messages in {t[0]:.3f}..{t[-1]:.3f} s, median {statistics.median(t):.3f} s"
          f" ({count / statistics.median(t):.0f} per second)")
if 'base' in by:
    ratios = sorted(by['new'][r] / by['base'][r] for r in by['base'] if r in by['new'])
    print(f"new/base per round: median {statistics.median(ratios):.2f} ({ratios[0]:.2f}..{ratios[-1]:.2f})")
PY
