#!/usr/bin/env bash
# Cross-builds dupsweep for Windows with MinGW-w64:
#   build-win32/dupsweep.exe  32-bit, the program as shipped; with --test
#                             its tests run under scripts/wine32
#   build-win64/dupsweep.exe  64-bit, the same sources; its tests run under
#                             wine64 (run them with: ctest --test-dir build-win64)
# Installs what is missing with apt-get, and builds a static Boost.Filesystem
# for each architecture, and GoogleTest for the tested one, once, cached
# under the build trees.
# Usage: scripts/build_windows.sh [--test]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${DUPSWEEP_WIN_CACHE:-$root/build-win-cache}
jobs=$(nproc)

# Recommends included: that is the Wine the tests were run with.
install_tools() {
  "$root/scripts/install_deps.sh" --recommends g++-mingw-w64-i686-posix \
    g++-mingw-w64-x86-64-posix wine64 libboost-dev googletest cmake \
    ninja-build xz-utils
}

# The Debian source package, and its version, of the Boost headers that
# libboost-dev installed, so that headers and library agree: e.g.
# "boost1.74 1.74.0+ds1-21".
boost_source() {
  local headers
  headers=$(dpkg-query -S /usr/include/boost/version.hpp | cut -d: -f1)
  dpkg-query -W -f='${source:Package} ${source:Version}\n' "$headers"
}

# apt-get with a package index of its own under the cache: Debian's source
# packages, from the same archives as the system's binary ones. Nothing of
# the system's apt set-up is changed, so neither root nor sudo is needed.
source_apt() {
  local dir=$cache/apt
  apt-get -o Dir::Etc::SourceList="$dir/sources.list" \
    -o Dir::Etc::SourceParts="$dir/sources.list.d" \
    -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" \
    -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)" "$@"
}

source_index() {
  local dir=$cache/apt file
  rm -rf "$dir"
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache"
  sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list \
    >"$dir/sources.list" 2>/dev/null || true
  for file in /etc/apt/sources.list.d/*.sources; do
    grep -qE '^Types:(.* )?deb( |$)' "$file" 2>/dev/null || continue
    sed 's/^Types:.*/Types: deb-src/' "$file" \
      >"$dir/sources.list.d/$(basename "$file")"
  done
  source_apt update -qq
}

fetch_boost_sources() {
  local dir=$cache/boost
  [[ -d $dir/boost/libs/filesystem/src ]] && return
  local package version
  read -r package version < <(boost_source)
  source_index
  mkdir -p "$dir"
  # The version of the headers if the archive still has it, else the one it
  # has now: Debian's revisions of one Boost release share its sources.
  (cd "$dir" &&
    { source_apt source -qq --download-only "$package=$version" ||
      source_apt source -qq --download-only "$package"; } &&
    tar -xJf "$package"_*.orig.tar.xz --wildcards '*/libs/filesystem/src/*')
}

# A folder holding only a link to the Boost headers, so the cross compiler
# never sees the host's /usr/include.
boost_headers() {
  local deps=$1
  mkdir -p "$deps/include"
  ln -sfn /usr/include/boost "$deps/include/boost"
}

build_boost_filesystem() {
  local triple=$1 deps=$2
  local lib=$deps/lib/libboost_filesystem.a
  [[ -f $lib ]] && return
  local objs=$deps/obj/boost_filesystem
  mkdir -p "$objs" "$deps/lib"
  local src
  # Boost's own build finds out what the compiler has; here it is told.
  # From 1.79 on the library uses C++20's std::atomic_ref, or Boost.Atomic's
  # (headers only for these sizes) under C++17; older releases ignore this.
  for src in "$cache"/boost/boost/libs/filesystem/src/*.cpp; do
    echo "$src"
  done | xargs -P "$jobs" -I{} sh -c \
    '"$0" -std=c++17 -O2 -DNDEBUG -DBOOST_FILESYSTEM_STATIC_LINK=1 \
       -DBOOST_FILESYSTEM_NO_CXX20_ATOMIC_REF \
       -DBOOST_ALL_NO_LIB -isystem "$1/include" -c {} \
       -o "$2/$(basename {} .cpp).o"' \
    "$triple-g++-posix" "$deps" "$objs"
  "$triple-ar" rcs "$lib.tmp" "$objs"/*.o
  mv "$lib.tmp" "$lib"
}

build_googletest() {
  local arch=$1 deps=$2
  [[ -f $deps/lib/cmake/GTest/GTestConfig.cmake ]] && return
  cmake -S /usr/src/googletest -B "$deps/obj/googletest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain_mingw_$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$deps" \
    -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=ON >/dev/null
  cmake --build "$deps/obj/googletest" --target install >/dev/null
}

# $1: architecture (i686 or x86_64), $2: build tree, $3: ON to build tests.
build_program() {
  local arch=$1 build=$2 tests=$3
  local triple=$arch-w64-mingw32 deps=$build/deps
  boost_headers "$deps"
  build_boost_filesystem "$triple" "$deps"
  [[ $tests == ON ]] && build_googletest "$arch" "$deps"
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain_mingw_$arch.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$deps" -DBoost_USE_STATIC_LIBS=ON \
    -DDUPSWEEP_TESTS="$tests" >/dev/null
  cmake --build "$build"
}

# The 32-bit tests run under qemu-i386 through scripts/wine32, whose first
# use fetches and prepares it: longer than the minute that test discovery
# at build time allows, so it is done before the build.
prepare_wine32() {
  WINEPREFIX=$root/build-win32/wineprefix "$root/scripts/wine32" --prepare
}

# The shipped 32-bit program and its own unit and end-to-end tests, all run
# under emulation. qemu's default CPU ("max") has the SHA extensions and
# AVX2, so every kernel but the AVX-512 one (which qemu does not emulate)
# runs; the SHA-1 and content tests then run again on CPU models with the
# SHA extensions but no AVX2, AVX2 only, and neither, so that the program
# chooses each other set too.
test_win32() {
  local build=$root/build-win32 status=0 model
  ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
  for model in Denverton-v1 Haswell-v4 Nehalem-v1; do
    [[ $status -ne 0 ]] && break
    echo "SHA-1 and content tests on an emulated $model"
    QEMU_CPU=$model ctest --test-dir "$build" --output-on-failure \
      -j "$jobs" -R '^(Sha1|ContentRun)' || status=$?
  done
  return "$status"
}

# A build tree's Wine prefix takes some 1.3 GB and is made again by its next
# use in under a minute, so none outlives its stage. Its server goes first:
# it would otherwise linger a minute after the last program, and write
# into the prefix while it is removed.
remove_prefix() {
  local prefix=$1/wineprefix
  if [[ -d $prefix ]]; then
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true
  fi
  rm -rf "$prefix" "$prefix.lock" "$prefix.wine32-lock"
}

install_tools
source "$root/scripts/wine_tools.sh"
trap 'remove_prefix "$root/build-win32"; remove_prefix "$root/build-win64"' EXIT
fetch_boost_sources
# With --test each architecture is built, tested and its prefix removed
# before the next, so that only one prefix is on disk at a time.
if [[ ${1:-} == --test ]]; then
  prepare_wine32
  build_program i686 "$root/build-win32" ON
  test_win32
  remove_prefix "$root/build-win32"
  build_program x86_64 "$root/build-win64" ON
  ctest --test-dir "$root/build-win64" --output-on-failure -j "$jobs"
else
  build_program i686 "$root/build-win32" OFF
  build_program x86_64 "$root/build-win64" ON
fi
