#!/bin/sh
# make-full-test-package.sh <test packages dir> <stub> <backend> <make-full-package-installer.sh>
# The complete test package as the build server would pack it, in <dir>/test_pkg_full: the
# test package with its own installer (the backend test helper as "installer.exe", listed
# in "files_list" so that an installation keeps it for uninstalling), and the full-package
# installer a net installer downloads, <dir>/test_pkg_full_installer.exe: the package stub
# (which answers the version questions) carrying that package as its 7z payload.
set -eu
dir=$1
stub=$2
backend=$3
make_installer=$4
full=$dir/test_pkg_full
rm -rf "$full" "$dir/test_pkg_full.7z" "$dir/test_pkg_full_installer.exe"
cp -r "$dir/test_pkg" "$full"
cp "$backend" "$full/installer.exe"
printf 'installer.exe\r\n' >> "$full/files_list"
(cd "$full" && 7zz a -bso0 -bsp0 -bse1 -m0=LZMA2 -mx=5 ../test_pkg_full.7z .)
sh "$make_installer" "$stub" "$dir/test_pkg_full.7z" "$dir/test_pkg_full_installer.exe"
rm "$dir/test_pkg_full.7z"
