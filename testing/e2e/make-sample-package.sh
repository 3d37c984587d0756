#!/bin/sh
# make-sample-package.sh <fake program> <installer host> <outdir> [files] [bytes] [version]
#                        [base]
# A sample browser package and the installers made of it, in <outdir>:
#   package/        the unpacked package: the test package's programs and lists (the fake
#                   program under each role, the installer host as "installer.exe"), plus
#                   <files> data files of <bytes> in all under resources/, locales/ and
#                   extensions/, listed in "files_list"
#   package.7z      the package as the build server packs it
#   VelumSetup.exe  the single-file full-package installer
# Defaults: 60 files, 2 MB, version 1.0.100.0 and base test_pkg (test_pkg_v2 for a later
# version); the benchmark asks for 3000 files and 150 MB.
set -eu
fake=$1
host=$2
out=$3
files=${4:-60}
bytes=${5:-2000000}
version=${6:-1.0.100.0}
base=${7:-test_pkg}
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools

rm -rf "$out"
mkdir -p "$out"
sh "$here/../test_pkg/make-test-packages.sh" "$fake" "$out/test_packages"
mv "$out/test_packages/$base" "$out/package"
rm -rf "$out/test_packages"
printf '%s' "$version" > "$out/package/VERSION"
# The browser keeps its installer, which uninstalls it.
cp "$host" "$out/package/installer.exe"
printf 'installer.exe\r\n' >> "$out/package/files_list"

# Data files in a browser's usual folders: half compressible text, half noise, so that
# the archive is neither trivial nor incompressible.
python3 - "$out/package" "$files" "$bytes" <<'PY'
import os, random, sys
root, files, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261207)
folders = ['resources', 'resources\\locales', 'extensions\\pdf', 'extensions\\spellcheck',
           'renderer', 'resources\\inspector']
names = []
each = max(1, total // max(1, files))
for i in range(files):
    folder = folders[i % len(folders)]
    name = '%s\\sample_%04d.%s' % (folder, i, ('pak', 'dat', 'js', 'bin')[i % 4])
    path = os.path.join(root, *name.split('\\'))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    size = max(1, int(each * rng.uniform(0.5, 1.5)))
    with open(path, 'wb') as f:
        text = ('velum %d ' % i).encode() * (size // 20 + 1)
        f.write(text[:size // 2] + rng.randbytes(size - size // 2))
    names.append(name)
with open(os.path.join(root, 'files_list'), 'ab') as f:
    f.write(''.join(n + '\r\n' for n in names).encode())
PY

(cd "$out/package" && 7zz a -bso0 -bsp0 -bse1 -m0=LZMA2 -mx=5 ../package.7z . )
"$tools/make-full-package-installer.sh" "$host" "$out/package.7z" "$out/VelumSetup.exe"
