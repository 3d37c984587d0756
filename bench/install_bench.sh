#!/bin/bash
# Hand-run install benchmark (bench/README.md, "install_bench"): silent full-package
# installations of a sample browser (default about 150 MB in about 3,000 files), each
# paired in the same round with `7zz x` of the same archive and with the bare Win32 file
# calls of the same work (file_calls_bench.exe). Prints, as medians over the rounds, the
# installer's phases from its logs' time stamps, the ratios, the Wine-only costs measured
# on their own, each phase beside its floor measured in the same round (the bare CopyFileW
# loop for the files, the bare delete loop for the temporary package, `7zz x -mmt1` for
# the unpacking, a warm start of an empty program for a process start), the load, and
# the installer processes' peak memory seen from Linux.
#   bench/install_bench.sh [files] [bytes]        after scripts/setup.sh
#   bench/install_bench.sh 10000 150000000        the 10,000-file package
# Environment:
#   RUNS=n        rounds (default 3; a goal counts on the median of at least 5)
#   BASE=folder   a second build to pair with (a folder holding bin/velum_installer.exe,
#                 e.g. a copy of out/build/bin from an earlier commit): each round then
#                 runs both installers, in alternating order, and the table gets a column
#                 for each and their ratio. Paired runs see the same machine load.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${BUILD:-$REPO/out/build}
WORK=${WORK:-$REPO/out/bench}
FILES=${1:-3000}
BYTES=${2:-150000000}
RUNS=${RUNS:-3}
BASE=${BASE:-}
rm -rf "$WORK"
mkdir -p "$WORK/results"
now() { date +%s.%N; }

LABELS=(new)
HOSTS=("$BUILD/bin/velum_installer.exe")
if [ -n "$BASE" ]; then
  LABELS=(base new)
  HOSTS=("$BASE/bin/velum_installer.exe" "$BUILD/bin/velum_installer.exe")
fi
# The package carries its installer, so each host gets its own package; the data files
# are the same (the sample's generator is seeded).
for i in "${!LABELS[@]}"; do
  bash "$REPO/testing/e2e/make-sample-package.sh" "$BUILD/fake_program/velum_fake_program.exe" \
    "${HOSTS[$i]}" "$WORK/sample-${LABELS[$i]}" "$FILES" "$BYTES"
  mkdir -p "$WORK/download-${LABELS[$i]}"
  cp "$WORK/sample-${LABELS[$i]}/VelumSetup.exe" "$WORK/download-${LABELS[$i]}/"
done
ARCHIVE=$WORK/sample-${LABELS[0]}/package.7z

# One prefix made once; every run starts in a fresh copy of it, with no Wine server up.
TEMPLATE=$WORK/template
VELUM_WINEPREFIX=$TEMPLATE "$BUILD/wine-run.sh" cmd /c exit 0
WINEPREFIX=$TEMPLATE timeout 120 /usr/lib/wine/wineserver -w || true
PREFIX=$WORK/prefix
fresh_prefix() {
  WINEPREFIX=$PREFIX timeout 60 /usr/lib/wine/wineserver -k 2>/dev/null || true
  rm -rf "$PREFIX"
  cp -a "$TEMPLATE" "$PREFIX"
}

# Peak memory of the installer's processes of this prefix (front end, backend, the
# package's installer); other installers may run on the machine meanwhile.
sample_memory() {
  python3 - "$1" "$PREFIX" <<'PY'
import os, sys, time
out, prefix = sys.argv[1], sys.argv[2]
peak = {}
stop = out + '.stop'
deadline = time.time() + 1800
while not os.path.exists(stop) and time.time() < deadline:
    for pid in os.listdir('/proc'):
        if not pid.isdigit():
            continue
        try:
            cmd = open('/proc/%s/cmdline' % pid, 'rb').read().replace(b'\0', b' ').decode(errors='replace')
            if 'VelumSetup.exe' not in cmd and 'installer.exe' not in cmd:
                continue
            env = open('/proc/%s/environ' % pid, 'rb').read().split(b'\0')
            if ('WINEPREFIX=' + prefix).encode() not in env:
                continue
            fields = dict(l.split(':', 1) for l in open('/proc/%s/status' % pid) if ':' in l)
        except OSError:
            continue
        role = 'backend' if '--backend' in cmd else 'front end'
        if 'installer.exe' in cmd:
            role = 'package installer ' + role
        hwm = int(fields.get('VmHWM', '0 kB').split()[0])
        anon = int(fields.get('RssAnon', '0 kB').split()[0])
        old = peak.get(role, (0, 0))
        peak[role] = (max(old[0], hwm), max(old[1], anon))
    time.sleep(0.02)
with open(out, 'w') as f:
    for role, (hwm, anon) in sorted(peak.items()):
        f.write('  %-28s VmHWM %7.1f MB  RssAnon %7.1f MB\n' % (role, hwm / 1024, anon / 1024))
PY
}

# One silent installation by installer $1 (a label); its figures go to results/$1-$2.
install_once() {
  local label=$1 round=$2 result=$WORK/results/$1-$2
  fresh_prefix
  rm -f "$result.memory.stop"
  sample_memory "$result.memory" &
  local sampler=$! rc=0 start front_end all
  start=$(now)
  VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$WORK/download-$label/VelumSetup.exe" --silent \
    --allusers=0 '--installfolder=C:\Bench' --enable-installer-stats=0 \
    --local-pref-default-overrides-server=http://127.0.0.1:9/ > "$result.out" 2>&1 || rc=$?
  front_end=$(echo "$(now) - $start" | bc)
  WINEPREFIX=$PREFIX timeout 120 /usr/lib/wine/wineserver -w || true
  all=$(echo "$(now) - $start" | bc)
  touch "$result.memory.stop"
  wait $sampler
  {
    echo "start $start"
    echo "exit_code $rc"
    echo "installed $(find "$PREFIX/drive_c/Bench" -type f | wc -l)"
    echo "front_end $front_end"
    echo "all $all"
  } > "$result"
  cat "$PREFIX"/drive_c/users/*/Temp/'Velum Installer'/*.log > "$result.logs" 2>/dev/null || true
}

# The references of the round: 7zz x, the bare Win32 calls, and Wine by itself (a
# program that only prints its usage, in a fresh prefix: process start and the server's
# linger after the prefix's last process).
references_once() {
  local result=$WORK/results/ref-$1 start unpack7z bare wine_start linger
  rm -rf "$WORK/x" "$WORK/bare"
  mkdir -p "$WORK/bare"
  sync
  start=$(now)
  7zz x -bso0 -bsp0 "-o$WORK/x" "$ARCHIVE"
  unpack7z=$(echo "$(now) - $start" | bc)
  rm -rf "$WORK/x1"
  start=$(now)
  7zz x -mmt1 -bso0 -bsp0 "-o$WORK/x1" "$ARCHIVE"
  unpack7z_mt1=$(echo "$(now) - $start" | bc)
  rm -rf "$WORK/x1"
  fresh_prefix
  start=$(now)
  VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$BUILD/bin/file_calls_bench.exe" > /dev/null 2>&1 || true
  wine_start=$(echo "$(now) - $start" | bc)
  # The same empty program again while the server still runs: a warm process start, the
  # floor of the package's installer's start inside an installation.
  start=$(now)
  VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$BUILD/bin/file_calls_bench.exe" > /dev/null 2>&1 || true
  warm_start=$(echo "$(now) - $start" | bc)
  start=$(now)
  WINEPREFIX=$PREFIX timeout 120 /usr/lib/wine/wineserver -w || true
  linger=$(echo "$(now) - $start" | bc)
  bare=$(VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$BUILD/bin/file_calls_bench.exe" \
    "Z:${WORK//\//\\}\\x" "Z:${WORK//\//\\}\\bare")
  WINEPREFIX=$PREFIX timeout 60 /usr/lib/wine/wineserver -k || true
  {
    echo "unpack7z $unpack7z"
    echo "unpack7z_mt1 $unpack7z_mt1"
    echo "bare_unpack $(awk '{print $2}' <<< "$bare")"
    echo "bare_copy $(awk '{print $4}' <<< "$bare")"
    echo "bare_delete $(awk '{print $10}' <<< "$bare")"
    echo "wine_start $wine_start"
    echo "warm_start $warm_start"
    echo "load $(cut -d' ' -f1 /proc/loadavg)"
    echo "wine_linger $linger"
  } > "$result"
}

for round in $(seq 1 "$RUNS"); do
  order=("${LABELS[@]}")
  # Alternate which installer goes first, so a drift in load favours neither.
  if [ $((round % 2)) -eq 0 ] && [ ${#LABELS[@]} -eq 2 ]; then order=("${LABELS[1]}" "${LABELS[0]}"); fi
  for label in "${order[@]}"; do install_once "$label" "$round"; done
  references_once "$round"
  echo "round $round of $RUNS done" >&2
done

echo "package: $(find "$WORK/x" -type f | wc -l) files, $(du -sm "$WORK/x" | cut -f1) MB;" \
  "archive $(($(stat -c %s "$ARCHIVE") / 1048576)) MB; stub $(stat -c %s "${HOSTS[-1]}") bytes;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$WORK/results" "$RUNS" "${LABELS[@]}" <<'PY'
import os, re, statistics, sys, time
folder, runs, labels = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def read(path):
    values = {}
    for line in open(path):
        key, value = line.split()
        values[key] = float(value)
    return values

# (phase, log line that starts it); each lasts until the next one's line. Launch and
# the end come from the script's own clock.
MARKS = [('start-up and settings', 'Velum installer starting'),
         ('temporary-folder check', 'Setting install folder to'),
         ('status, backend start', 'Installer download folder'),
         ('payload written to disk', 'Writing payload to file'),
         ('unpacking the package', 'Unpacking files from archive'),
         ('prefs request, hand-over start', 'Package ready.'),
         ('hand-over: package taken out of its installer', 'Taking the package from'),
         ("package's installer start", 'Package taken for the elevated run'),
         ('installing the files', 'Read root files list'),
         ('registry, shortcuts, prefs', 'Setting up the registry'),
         ('components to "Creating scheduled task"', 'Installing Components'),
         ('task, launch, success', 'Creating scheduled task'),
         ('reporting the result', 'Installation succeeded'),
         ('deleting the temporary package, exit', 'Terminating the package fetcher'),
         ('end', 'Destroying settings')]

def phases(run):
    lines = []
    for line in open(run + '.logs', errors='replace'):
        m = re.match(r'\[\d+/(\d\d)(\d\d)(\d\d\.\d+):', line)
        if m:
            lines.append((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3)), line))
    lines.sort(key=lambda entry: entry[0])
    result = {}
    if not lines:
        return result
    values = read(run)
    # Log times are local times of day: the script's clock in the same terms.
    start = (values['start'] - time_zone_offset()) % 86400
    found = []
    for name, text in MARKS:
        after = found[-1][1] if found else lines[0][0]
        hits = [t for t, line in lines if text in line and t >= after]
        if hits:
            found.append((name, hits[-1] if name == 'end' else hits[0]))
    result['launch to first log line'] = found[0][1] - start
    for (name, begin), (_, end) in zip(found, found[1:]):
        result[name] = end - begin
    # The hand-over whole, from the ready package to the package's installer's first file
    # step and from its success to the front end's clean-up, whatever marks a build has:
    # a build without them counts its copy inside the phases around it.
    times = dict(found)
    # The removal of the hand-over's package runs beside the front end's clean-up: from
    # its line to the last process's end (the Wine server's linger included).
    removal = [t for t, line in lines if 'Removing the package taken for the elevated run' in line]
    if removal:
        result['hand-over: its package removed, to the last line'] = lines[-1][0] - removal[0]
    for name, first, last in (('hand-over to the first file step (sum)', 'prefs request, hand-over start',
                               'installing the files'),
                              ('success to the clean-up (sum)', 'reporting the result',
                               'deleting the temporary package, exit')):
        if first in times and last in times:
            result[name] = times[last] - times[first]
    end = found[-1][1]
    result["last log line to the front end's exit"] = start + values['front_end'] - end
    result["front end's exit to the last process's end"] = values['all'] - values['front_end']
    return result

def time_zone_offset():
    return time.altzone if time.daylight and time.localtime().tm_isdst else time.timezone

def median(values):
    return statistics.median(values) if values else float('nan')

table = {label: {} for label in labels}
totals = {label: {'all': [], 'front_end': []} for label in labels}
ratios = {label: {'all': [], 'front_end': [], 'all3': [], 'unpack': []} for label in labels}
refs = {}
for round_ in range(1, runs + 1):
    ref = read(os.path.join(folder, 'ref-%d' % round_))
    for key, value in ref.items():
        refs.setdefault(key, []).append(value)
    for label in labels:
        run = os.path.join(folder, '%s-%d' % (label, round_))
        values = read(run)
        if values['exit_code'] != 0:
            print('%s round %d: exit code %d, %d files installed' %
                  (label, round_, values['exit_code'], values['installed']))
        for key in ('all', 'front_end'):
            totals[label][key].append(values[key])
        reference = ref['unpack7z'] + ref['bare_copy']
        ratios[label]['all'].append(values['all'] / reference)
        ratios[label]['front_end'].append(values['front_end'] / reference)
        ratios[label]['all3'].append(values['all'] / (reference + ref['bare_unpack']))
        for name, seconds in phases(run).items():
            table[label].setdefault(name, []).append(seconds)
            if name == 'unpacking the package':
                ratios[label]['unpack'].append(seconds / ref['unpack7z_mt1'])

def spread(values):
    if not values:
        return '     -'
    return '%6.2f (%.2f..%.2f)' % (median(values), min(values), max(values))

def row(name, per_label, unit='s'):
    cells = ['%8.3f' % median(per_label[label]) for label in labels]
    if len(labels) == 2:
        paired = [n / b for b, n in zip(per_label[labels[0]], per_label[labels[1]]) if b > 0]
        cells.append(spread(paired))
    print('  %-45s %s' % (name, ' '.join(cells)))

header = ' '.join('%8s' % label for label in labels) + ('  new/base' if len(labels) == 2 else '')
print('medians of %d rounds (each column its installer; the last the median of the paired ratios):' % runs)
print('  %-45s %s' % ('', header))
names = ['launch to first log line'] + [name for name, _ in MARKS[:-1]] + \
        ["last log line to the front end's exit", "front end's exit to the last process's end",
         'hand-over to the first file step (sum)', 'success to the clean-up (sum)',
         'hand-over: its package removed, to the last line']
for name in names:
    if any(table[label].get(name) for label in labels):
        row(name, {label: table[label].get(name, []) for label in labels})
row('to the front end\'s exit', {label: totals[label]['front_end'] for label in labels})
row('to the last process\'s end', {label: totals[label]['all'] for label in labels})
print('ratios (median over rounds, each run against its own round\'s references):')
row('installer / (7zz x + bare CopyFileW)', {l: ratios[l]['all'] for l in labels})
row('front end\'s exit / (7zz x + bare CopyFileW)', {l: ratios[l]['front_end'] for l in labels})
row('installer / (7zz x + bare unpack + CopyFileW)', {l: ratios[l]['all3'] for l in labels})
row('unpacking / 7zz x -mmt1 (one thread)', {l: ratios[l]['unpack'] for l in labels})
print('references (medians; spread min..max shows how noisy the machine was):')
for key, text in (('unpack7z', '7zz x'), ('unpack7z_mt1', '7zz x -mmt1'), ('bare_unpack', 'bare create+write+set time+close'),
                  ('bare_copy', 'bare CopyFileW loop'),
                  ('bare_delete', 'bare DeleteFileW + RemoveDirectoryW loop'),
                  ('wine_start', 'Wine alone: start to exit of an empty program'),
                  ('warm_start', 'Wine alone: the same, the server up'),
                  ('wine_linger', 'Wine alone: server linger after the last process')):
    values = refs[key]
    print('  %-45s %8.3f  (%.3f..%.3f)' % (text, median(values), min(values), max(values)))
for label in labels:
    values = totals[label]['all']
    print('  %-45s %8.3f  (%.3f..%.3f)' % ('installer %s, to the last process\'s end' % label,
                                           median(values), min(values), max(values)))
# Each phase beside the floor measured in the same round: the bare CopyFileW loop of the
# same files into an empty folder (file_calls_bench, same Wine), a warm start of an empty
# program for a process start, `7zz x -mmt1` for the unpacking, and `7zz x` plus the bare
# copy for the whole installation.
FLOORS = [('installing the files', 'bare_copy', 'bare CopyFileW loop'),
          ('deleting the temporary package, exit', 'bare_delete', 'bare DeleteFileW loop'),
          ('unpacking the package', 'unpack7z_mt1', '7zz x -mmt1'),
          ("package's installer start", 'warm_start', 'warm empty program'),
          ('hand-over: package taken out of its installer', 'unpack7z_mt1', '7zz x -mmt1'),
          ('launch to first log line', 'wine_start', 'cold empty program'),
          ('temporary-folder check', 'warm_start', 'warm empty program')]
print('phases beside same-round floors (median (min..max) of the per-round ratios):')
for label in labels:
    print(' ', label)
    for phase, key, text in FLOORS:
        seconds = table[label].get(phase, [])
        ratio = [v / f for v, f in zip(seconds, refs.get(key, [])) if f > 0]
        if not ratio:
            continue
        print('    %-42s %7.3f s / %-20s %7.3f s = %s' % (
            phase, median(seconds), text, median(refs[key]), spread(ratio)))
    whole = [a + b for a, b in zip(refs['unpack7z'], refs['bare_copy'])]
    print('    %-42s %7.3f s / %-20s %7.3f s = %s' % (
        "to the last process's end", median(totals[label]['all']), '7zz x + bare copy',
        median(whole), spread(ratios[label]['all'])))
    extra = [v - f for v, f in zip(table[label].get('installing the files', []), refs['bare_copy'])]
    if extra:
        print('    %-42s %+7.3f s (%+.3f..%+.3f)' % ('installing the files minus bare copy',
                                                   median(extra), min(extra), max(extra)))
print('  load average (1 min) at the rounds\' ends: %.1f (%.1f..%.1f)' % (
    median(refs['load']), min(refs['load']), max(refs['load'])))
print('peak memory (round 1):')
for label in labels:
    print(' ', label)
    sys.stdout.write(open(os.path.join(folder, '%s-1.memory' % label)).read())
PY
