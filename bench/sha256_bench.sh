#!/bin/bash
# sha256_bench.sh [BUILD]: SHA-256 throughput of the installer's package check
# (CheckFileChecksum in base_bench.exe under Wine) beside sha256sum and `openssl dgst
# -sha256` on the same 500 MB file. Each figure is the median of 3 runs on a warm cache.
set -euo pipefail
REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
BUILD=${1:-$REPO/out/build}
SIZE_MB=500
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
file=$dir/package.bin
head -c $((SIZE_MB * 1000 * 1000)) /dev/urandom > "$file"
bytes=$(stat -c %s "$file")
expected=$(sha256sum "$file" | cut -d' ' -f1)

# Median MB/s of three timed runs of a host command.
host_rate() {
  local rates=() start end
  "$@" > /dev/null   # warm-up
  for _ in 1 2 3; do
    start=$(date +%s.%N); "$@" > /dev/null; end=$(date +%s.%N)
    rates+=("$(awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN { print b / (e - s) / 1e6 }')")
  done
  printf '%s\n' "${rates[@]}" | sort -g | sed -n 2p
}

sha256sum_rate=$(host_rate sha256sum "$file")
openssl_rate=$(host_rate openssl dgst -sha256 "$file")
installer_line=$("$BUILD/wine-run.sh" "$BUILD/bin/base_bench.exe" --checksum "Z:$file" "$expected" | tr -d '\r')
installer_rate=$(echo "$installer_line" | awk '{print $(NF-1)}')

printf '%-40s %10.1f MB/s\n' "sha256sum ($SIZE_MB MB)" "$sha256sum_rate"
printf '%-40s %10.1f MB/s\n' "openssl dgst -sha256 ($SIZE_MB MB)" "$openssl_rate"
echo "$installer_line"
printf '%-40s %10.2f\n' "installer / openssl" "$(awk -v a="$installer_rate" -v o="$openssl_rate" 'BEGIN { print a / o }')"
