#!/bin/bash
# Hand-run install benchmark (bench/README.md, "install_bench"): a silent full-package
# installation of a sample browser of about 150 MB in about 3,000 files, paired in one run
# with `7zz x` of the same archive plus `cp -r` of the unpacked tree, and with the bare
# Win32 file calls of the same work (file_calls_bench.exe). Reports the times, the ratios,
# where the installer's time went (from its logs' time stamps) and the installer processes'
# peak memory seen from Linux (VmHWM, and the largest RssAnon sampled every 20 ms).
#   bench/install_bench.sh [files] [bytes]        after scripts/setup.sh
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${BUILD:-$REPO/out/build}
WORK=${WORK:-$REPO/out/bench}
FILES=${1:-3000}
BYTES=${2:-150000000}
rm -rf "$WORK"
mkdir -p "$WORK/download"
bash "$REPO/testing/e2e/make-sample-package.sh" "$BUILD/fake_program/velum_fake_program.exe" \
  "$BUILD/bin/velum_installer.exe" "$WORK/sample" "$FILES" "$BYTES"
cp "$WORK/sample/VelumSetup.exe" "$WORK/download/"
PREFIX=$WORK/prefix
VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" cmd /c exit 0
now() { date +%s.%N; }

# Peak memory of the installer's processes (front end, backend, the package's installer).
# Only processes of this prefix count: other installers may run on the machine meanwhile.
python3 - "$WORK/memory" "$PREFIX" <<'PY' &
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
        f.write('%-28s VmHWM %7.1f MB  RssAnon %7.1f MB\n' % (role, hwm / 1024, anon / 1024))
PY
SAMPLER=$!

start=$(now)
rc=0
VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$WORK/download/VelumSetup.exe" --silent \
  --allusers=0 '--installfolder=C:\Bench' --enable-installer-stats=0 \
  --local-pref-default-overrides-server=http://127.0.0.1:9/ > "$WORK/installer.out" 2>&1 ||
  rc=$?
front_end=$(echo "$(now) - $start" | bc)
# Wine's server lingers about 3 s after the last process of the prefix is gone.
WINEPREFIX=$PREFIX timeout 120 /usr/lib/wine/wineserver -w || true
installer=$(echo "$(now) - $start" | bc)
touch "$WORK/memory.stop"
wait $SAMPLER
installed=$(find "$PREFIX/drive_c/Bench" -type f | wc -l)

start=$(now)
7zz x -bso0 -bsp0 "-o$WORK/x" "$WORK/sample/package.7z"
unpack7z=$(echo "$(now) - $start" | bc)
start=$(now)
cp -r "$WORK/x" "$WORK/x_copy"
cpr=$(echo "$(now) - $start" | bc)
sync

bare=$(VELUM_WINEPREFIX=$PREFIX "$BUILD/wine-run.sh" "$BUILD/bin/file_calls_bench.exe" \
  "Z:${WORK//\//\\}\\x" "Z:${WORK//\//\\}")
bare_unpack=$(awk '{print $2}' <<< "$bare")
bare_copy=$(awk '{print $4}' <<< "$bare")
WINEPREFIX=$PREFIX timeout 60 /usr/lib/wine/wineserver -k || true

echo "package: $(find "$WORK/x" -type f | wc -l) files, $(du -sm "$WORK/x" | cut -f1) MB;" \
  "archive $(($(stat -c %s "$WORK/sample/package.7z") / 1048576)) MB"
echo "installer: exit code $rc, $installed files installed, ${installer} s (start to every process ended);" \
  "${front_end} s to the front end's exit"
echo "7zz x: ${unpack7z} s; cp -r: ${cpr} s"
echo "bare Win32 under Wine: create+write+set time+close ${bare_unpack} s; CopyFileW ${bare_copy} s"
echo "ratio installer / (7zz x + cp -r):          $(echo "scale=2; $installer / ($unpack7z + $cpr)" | bc)"
echo "ratio installer / (7zz x + bare CopyFileW): $(echo "scale=2; $installer / ($unpack7z + $bare_copy)" | bc)"
echo "ratio installer / (7zz x + bare unpack calls + bare CopyFileW): $(echo "scale=2; $installer / ($unpack7z + $bare_unpack + $bare_copy)" | bc)"
echo "ratio to the front end's exit / (7zz x + bare CopyFileW): $(echo "scale=2; $front_end / ($unpack7z + $bare_copy)" | bc)"
echo "peak memory:"
cat "$WORK/memory"
echo "where the time went, from the installer logs' time stamps:"
python3 - "$PREFIX/drive_c/users" <<'PY'
import glob, os, re, sys
# (phase, log line that starts it); each phase lasts until the next one's line.
marks = [('start-up and settings', 'Velum installer starting'),
         ('payload written to disk', 'Writing payload to file'),
         ('unpacking the package', 'Unpacking files from archive'),
         ('default-preferences request', 'Fetching default prefs overrides'),
         ("starting the package's installer", 'Informing the installer backend that the package is ready'),
         ('installing the files', 'Read root files list'),
         ('registry, shortcuts, components, tasks', 'Setting up the registry'),
         ('front end clean-up and exit', 'Terminating the package fetcher'),
         ('end', 'Destroying settings')]
lines = []
for path in glob.glob(os.path.join(sys.argv[1], '*', 'Temp', 'Velum Installer', '*.log')):
    for line in open(path, errors='replace'):
        m = re.match(r'\[\d+/(\d\d)(\d\d)(\d\d\.\d+):', line)
        if m:
            lines.append((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3)), line))
lines.sort(key=lambda entry: entry[0])
if not lines:
    sys.exit(0)
found = []
for name, text in marks:
    # The first such line after the previous mark; the end is the last "Destroying settings".
    after = found[-1][1] if found else lines[0][0]
    hits = [t for t, line in lines if text in line and t >= after]
    if hits:
        found.append((name, hits[-1] if name == 'end' else hits[0]))
for (name, begin), (_, end) in zip(found, found[1:]):
    print('  %-40s %7.3f s' % (name, end - begin))
PY
