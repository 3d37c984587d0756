#!/bin/sh
# make-full-package-installer.sh <host.exe> <package.7z> <out.exe>: an installer that
# carries a full package, as the build server makes it: the host, zero padding so that
# the file's end stays 8-aligned (what a later signature keeps in place), "VLM", the 7z
# archive and its length as u32 little-endian.
set -eu
host=$1
archive=$2
out=$3
cp "$host" "$out"
archive_size=$(stat -c %s "$archive")
block=$((3 + archive_size + 4))
size=$(stat -c %s "$out")
head -c $(((8 - (size + block) % 8) % 8)) /dev/zero >> "$out"
printf 'VLM' >> "$out"
cat "$archive" >> "$out"
python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('<I', $archive_size))" >> "$out"
