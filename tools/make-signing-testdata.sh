#!/bin/sh
# make-signing-testdata.sh <outdir> <stub.exe> <driver.exe>: a test CA with two code-signing leaves
# ("Velum Software Test Signer", the tests' expected signer, and another publisher), PE
# files signed in every way the signature check must tell apart, and installer files that
# carry a full package: <stub.exe> + padding + "VLM" + 7z archive + its length (u32 LE).
#
#   unsigned.exe signed.exe other.exe   none, the expected signer, another signer
#   dual.exe                            outer: other, nested: the expected signer
#   tampered.exe                        signed.exe with one code byte changed
#   nested_corrupt.exe                  dual.exe with the nested signature's value damaged
#   nested_forged.exe                   dual.exe whose nested signature names another file's
#                                       digest
#   package.7z package_unsigned.exe package_signed.exe   the package and its installers
#   driver_unsigned.exe driver_signed.exe   <driver.exe> carrying the package, as an
#                                       unsigned test build and a signed build
#   driver_online_signed.exe            <driver.exe> signed, carrying no package
#   planted.7z planted_unsigned.exe planted_signed.exe   another package (its velum.exe
#                                       says "planted browser") and its installers
set -eu
out=$1
stub=$2
driver=$3
rm -rf "$out"
mkdir -p "$out"
cd "$out"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout ca.key -out ca.crt \
  -subj "/CN=Velum Test Root CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" > leaf.ext
leaf() {  # leaf <name> <common name>
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$1.key" -out "$1.csr" \
    -subj "/CN=$2/O=Velum Tests" 2>/dev/null
  openssl x509 -req -sha256 -days 3650 -in "$1.csr" -CA ca.crt -CAkey ca.key \
    -CAcreateserial -extfile leaf.ext -out "$1.crt" 2>/dev/null
  cat "$1.crt" ca.crt > "$1.chain.pem"
}
leaf signer "Velum Software Test Signer"
leaf other "Another Publisher Test Signer"

# osslsigncode pads the file to a multiple of 8 before the certificate table; padding of
# our own first keeps what the file ends with right before that table.
pad8() {
  size=$(stat -c %s "$1")
  head -c $(((8 - size % 8) % 8)) /dev/zero >> "$1"
}
sign() {  # sign <signer> <in> <out> [-nest]
  osslsigncode sign -certs "$1.chain.pem" -key "$1.key" -h sha256 ${4:-} -in "$2" -out "$3" \
    > /dev/null
}
# flip <file> <what>: changes one byte of a signed file.
#   code           a byte of the code, which the signature covers
#   nested-value   the nested signature's value: it ends the outer one (no timestamps)
#   nested-digest  the file digest inside the nested signature (its second copy)
flip() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
path, what = sys.argv[1], sys.argv[2]
b = bytearray(open(path, 'rb').read())
pe = struct.unpack_from('<I', b, 60)[0]
table = struct.unpack_from('<I', b, pe + 0xA8)[0]
if what == 'code':
    at = 0x420
elif what == 'nested-value':
    at = table + struct.unpack_from('<I', b, table)[0] - 20
else:
    sha256_digest_info = bytes.fromhex('06096086480165030402010500' + '0420')
    start = b.index(sha256_digest_info, table) + len(sha256_digest_info)
    at = b.index(b[start:start + 32], start + 32)
b[at] ^= 0xFF
open(path, 'wb').write(b)
PY
}

cp "$stub" unsigned.exe
pad8 unsigned.exe
sign signer unsigned.exe signed.exe
sign other unsigned.exe other.exe
sign signer other.exe dual.exe -nest
cp signed.exe tampered.exe
flip tampered.exe code
cp dual.exe nested_corrupt.exe
flip nested_corrupt.exe nested-value
cp dual.exe nested_forged.exe
flip nested_forged.exe nested-digest

# The package: a browser stand-in, a file list to which partner files are appended.
mkdir -p package/resources
printf 'velum browser\n' > package/velum.exe
printf 'velum.exe\r\nresources\\strings.txt\r\n' > package/files_list
printf 'strings\n' > package/resources/strings.txt
(cd package && 7zz a -bso0 -bsp0 -bse1 -m0=LZMA2 ../package.7z . )
"$(dirname "$0")/make-full-package-installer.sh" "$stub" package.7z package_unsigned.exe
sign signer package_unsigned.exe package_signed.exe
"$(dirname "$0")/make-full-package-installer.sh" "$driver" package.7z driver_unsigned.exe
sign signer driver_unsigned.exe driver_signed.exe
cp "$driver" driver_online.exe
pad8 driver_online.exe
sign signer driver_online.exe driver_online_signed.exe
rm driver_online.exe
mkdir -p planted
printf 'planted browser\n' > planted/velum.exe
printf 'velum.exe\r\n' > planted/files_list
(cd planted && 7zz a -bso0 -bsp0 -bse1 -m0=LZMA2 ../planted.7z . )
"$(dirname "$0")/make-full-package-installer.sh" "$stub" planted.7z planted_unsigned.exe
sign signer planted_unsigned.exe planted_signed.exe
rm -f ./*.csr ./*.srl leaf.ext
touch stamp
