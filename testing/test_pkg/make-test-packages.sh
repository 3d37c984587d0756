#!/bin/sh
# make-test-packages.sh <fake program> <outdir>: the test browser packages "test_pkg" and
# "test_pkg_v2" (a later version of it) and the component installers beside them.
# Every program is the one fake program under the name of its role.
set -eu
fake=$1
out=$2
rm -rf "$out"
crlf() { printf '%s\r\n' "$@"; }

make_package() {  # <dir> <version> <files_list lines...>
  dir=$out/$1
  version=$2
  mkdir -p "$dir/resources/locales"
  for role in launcher.exe velum.exe installer_helper_64.exe installer_helper.exe; do
    cp "$fake" "$dir/$role"
  done
  printf '%s' "$version" > "$dir/VERSION"
  printf 'app data %s\n' "$version" > "$dir/resources/app.dat"
  printf 'en-US strings %s\n' "$version" > "$dir/resources/locales/en-US.dat"
  printf 'readme %s\n' "$version" > "$dir/root_readme.txt"
  printf '<visual version="%s"/>\n' "$version" > "$dir/velum_visual_elements.xml"
}

make_package test_pkg 1.0.100.0
printf 'de strings\n' > "$out/test_pkg/resources/locales/de.dat"
crlf velum.exe 'resources\app.dat' 'resources\locales\en-US.dat' 'resources\locales\de.dat' \
  > "$out/test_pkg/files_list"
crlf root_readme.txt velum_visual_elements.xml > "$out/test_pkg/root_files_list"

# v2 drops the German strings, adds a file and keeps one root file.
make_package test_pkg_v2 1.0.101.0
rm "$out/test_pkg_v2/velum_visual_elements.xml"
printf 'new in v2\n' > "$out/test_pkg_v2/resources/new_in_v2.dat"
crlf velum.exe 'resources\app.dat' 'resources\locales\en-US.dat' 'resources\new_in_v2.dat' \
  > "$out/test_pkg_v2/files_list"
crlf root_readme.txt > "$out/test_pkg_v2/root_files_list"

mkdir -p "$out/components"
cp "$fake" "$out/components/assistant_installer.exe"
cp "$fake" "$out/components/suite_installer.exe"
touch "$out/.complete"
