#!/bin/sh
# make-testdata.sh <outdir>: a small payload tree and 7z archives of it made by Debian's
# 7zz with the coders the package decoder must handle (LZMA, LZMA2, BCJ, BCJ2, Copy),
# solid and not. For each archive of the whole tree, <name>.7zz.txt lists what `7zz x`
# makes of it: "d <path>" per folder, "f <sha256> <path>" per file, sorted.
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/payload/docs" "$out/payload/sub dir/ünïcödé" "$out/payload/bin" "$out/payload/empty-dir"
cd "$out/payload"
seq 1 50000 | sed 's/$/ lorem ipsum dolor/' > docs/text.txt
# Incompressible bytes from a fixed seed: the same test data on every build.
python3 -c 'import random, sys; random.seed(17); sys.stdout.buffer.write(random.randbytes(300000))' > bin/random.bin
: > docs/empty.txt
printf 'unicode name\n' > "sub dir/ünïcödé/名前 ✓.txt"
# x86-64 code, so that 7zz applies its BCJ filter; a fixed PE time stamp keeps it the same.
SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o bin/app.exe /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
find . -type f -print0 | sort -z | xargs -0 sha256sum > ../manifest.sha256.tmp
Z="7zz a -bso0 -bsp0 -bse1"
$Z -m0=LZMA2                        ../lzma2.7z .
$Z -m0=LZMA                         ../lzma.7z .
$Z -mx0                             ../copy.7z .
$Z -m0=BCJ2 -m1=LZMA:d25 -m2=LZMA:d19 -m3=LZMA:d19 -mb0:1 -mb0s1:2 -mb0s2:3 ../bcj2.7z .
$Z -m0=BCJ -m1=LZMA                 ../bcj.7z .
$Z -m0=LZMA2 -ms=off                ../lzma2_nonsolid.7z .
# One folder per file and plain header names, for damage and entry-name tests.
$Z -m0=LZMA -ms=off -mhc=off      ../nonsolid.7z docs
# One Copy and one LZMA2 folder (docs/text.txt) with plain headers, for pack size edits.
$Z -mx0 -mhc=off                    ../copy_plain.7z docs
$Z -m0=LZMA2 -mhc=off               ../lzma2_plain.7z docs
cd ..
for name in lzma2 lzma copy bcj2 bcj lzma2_nonsolid; do
  rm -rf x
  7zz x -bso0 -bsp0 -bse1 -ox "$name.7z"
  (cd x && { find . -mindepth 1 -type d -printf 'd %P\n'
             find . -type f -printf '%P\0' | xargs -0 -r sha256sum |
               sed 's/^\([0-9a-f]*\)  /f \1 /'; } | LC_ALL=C sort) > "$name.7zz.txt"
done
rm -rf x
mv manifest.sha256.tmp manifest.sha256
