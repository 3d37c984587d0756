#!/bin/bash
# Installs every package the project needs (Debian 12, as root), fetches the two Debian
# source packages whose C code we compile (7zip's LZMA SDK decoder, BoringSSL's SHA-256),
# configures and builds everything with mingw-w64. Idempotent: a second run only rebuilds.
#
#   scripts/setup.sh            env: OUT=<repo>/out  DEPS=$OUT/deps  JOBS=$(nproc)
set -euo pipefail

REPO=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
OUT=${OUT:-$REPO/out}
DEPS=${DEPS:-$OUT/deps}          # source packages, shared between build trees if wanted
BUILD=${BUILD:-$OUT/build}
JOBS=${JOBS:-$(nproc)}
export DEBIAN_FRONTEND=noninteractive

PKGS=(
  cmake ninja-build                               # build system
  g++-mingw-w64-x86-64-posix mingw-w64-tools      # cross compiler (posix thread model)
  libz-mingw-w64-dev                              # zlib, static libz.a
  googletest                                      # sources in /usr/src/googletest
  wine wine64 wine64-preloader fonts-wine         # test runtime; preloader avoids random start failures
  xvfb xauth x11-apps                             # one X server for the test run
  7zip                                            # 7zz makes test archives
  nasm                                            # assembles BoringSSL's SHA-256
  openssl osslsigncode                            # test certificates, signed test files
  dpkg-dev xz-utils                               # apt-get source, dpkg-source -x
  python3                                         # local HTTP test servers, string tables
  imagemagick                                     # the installer's images, drawn at build time
  clang-tidy                                      # the clang_tidy test (tools/run-clang-tidy.sh)
  fonts-dejavu-core fonts-wqy-microhei            # the test prefixes' glyphs: Greek, Arabic, Hebrew; CJK
  fonts-tlwg-garuda-ttf fonts-lohit-deva          # Thai; Devanagari
  python3-fonttools                               # merges them into the test prefixes' UI font
)

log() { echo "=== $*"; }

install_packages() {
  local missing=()
  for p in "${PKGS[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  [ "$(id -u)" -eq 0 ] || { echo "missing packages (${missing[*]}); run as root" >&2; exit 1; }
  log "installing ${missing[*]}"
  if ! apt-cache policy wine64 2>/dev/null | grep -q 'Candidate: [0-9]'; then
    apt-get update -qq
  fi
  # Stale package lists fail with 404s: refresh them once and try again.
  apt-get install -y -qq --no-install-recommends --no-upgrade "${missing[@]}" >/dev/null ||
    { apt-get update -qq &&
      apt-get install -y -qq --no-install-recommends --no-upgrade "${missing[@]}" >/dev/null; }
}

# A private deb-src list derived from the machine's own apt sources; no system file changes.
fetch_sources() {
  local apt=$DEPS/apt dl=$DEPS/dl src=$DEPS/src
  mkdir -p "$apt/lists/partial" "$dl" "$src"
  if [ -f "$src/7zip.stamp" ] && [ -f "$src/boringssl.stamp" ] &&
     [ -d "$src/7zip/C" ] && [ -d "$src/boringssl/src" ]; then
    return 0
  fi
  local list
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    list=$apt/src.sources
    cat /etc/apt/sources.list.d/*.sources | sed 's/^Types:.*/Types: deb-src/' > "$list"
  else
    list=$apt/src.list
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      sed -n 's/^deb \(.*\)/deb-src \1/p' > "$list"
  fi
  local opts=(-o Dir::Etc::SourceList="$list" -o Dir::Etc::SourceParts=/dev/null
              -o Dir::State::Lists="$apt/lists" -o Dir::Cache::pkgcache=
              -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
  log "fetching source packages"
  apt-get "${opts[@]}" update -qq
  local pkg dir ver dsc
  for pkg in 7zip android-platform-external-boringssl; do
    dir=${pkg/android-platform-external-/}
    ver=$(apt-cache "${opts[@]}" showsrc "$pkg" | sed -n 's/^Version: //p' | sort -V | tail -1)
    [ -n "$ver" ] || { echo "no source package $pkg" >&2; exit 1; }
    (cd "$dl" && apt-get "${opts[@]}" source --download-only -qq "$pkg=$ver" >/dev/null)
    dsc=$(ls -v "$dl/${pkg}_${ver#*:}.dsc")
    rm -rf "${src:?}/$dir"
    (cd "$src" && dpkg-source -x "$dsc" "$dir" > "$src/$dir.log" 2>&1)
    echo "$dsc" > "$src/$dir.stamp"
  done
  rm -rf "$apt/lists"
}

configure_and_build() {
  local args=(-G Ninja -S "$REPO" -B "$BUILD" --log-level=WARNING
              -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/toolchain-mingw64-posix.cmake"
              -DCMAKE_BUILD_TYPE=Release -DVELUM_DEPS_SRC="$DEPS/src")
  # What the configuration was made from: the package list, the source packages fetched,
  # the configure arguments and compiler launchers. A change in any reconfigures.
  local deps_id
  deps_id=$({ printf '%s\n' "${PKGS[@]}" "${args[@]}" "${CMAKE_CXX_COMPILER_LAUNCHER:-}" \
                "${CMAKE_C_COMPILER_LAUNCHER:-}"; cat "$DEPS"/src/*.stamp; } | sha256sum)
  if [ ! -f "$BUILD/build.ninja" ] || [ "$(cat "$BUILD/dependencies.stamp" 2>/dev/null)" != "$deps_id" ]; then
    log "configuring"
    cmake "${args[@]}"
    echo "$deps_id" > "$BUILD/dependencies.stamp"
  fi
  log "building"
  cmake --build "$BUILD" -j "$JOBS"
}

install_packages
fetch_sources
configure_and_build
