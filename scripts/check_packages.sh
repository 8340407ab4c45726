#!/usr/bin/env bash
# Builds the Debian package (in build-deb/, from the sources as the native
# build has them, with Debian's hardening flags) and the zip of the Windows
# programs (build-win32/, with build-win64/dupsweep.exe beside it), and
# checks them as a user would: the package is unpacked into a throwaway folder,
# never installed, and its program is run on a directory made for it; its
# manual page reads without warnings; lintian finds no error and no missing
# hardening; a second packing is identical to the first; the zip holds
# the two programs, the manual and the licence, and its 64-bit program runs
# under wine64.
# Run after the native and the Windows builds (scripts/test.sh does).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"
export LC_ALL=C  # one sort order and plain ASCII from man

"$here/install_deps.sh" dpkg-dev file man-db groff-base lintian unzip binutils

# Built as Debian builds its packages: the distribution's flags (fortified
# functions, stack protector, immediate binding), and every date the
# packing writes taken from the commit, so that one commit gives one package.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct)}
cmake -S "$top" -B "$top/build-deb" -DCMAKE_BUILD_TYPE=Release \
  -DDUPSWEEP_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$top/build-deb" -j"$(nproc)" >/dev/null

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$top/build-deb/CMakeCache.txt")"
deb="$top/build-deb/dupsweep_${version}_amd64.deb"
zip="$top/build-win32/dupsweep-${version}-win32.zip"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
status=0
fail() {
  echo "check_packages: $*"
  status=1
}

(cd "$top/build-deb" && cpack >/dev/null)
cp "$deb" "$scratch/first.deb"
(cd "$top/build-deb" && cpack >/dev/null)
cmp -s "$scratch/first.deb" "$deb" || fail "a second packing differs from the first"
# CPack strips the tree's own program only; the 64-bit one is stripped here.
x86_64-w64-mingw32-strip -o "$top/build-win32/dupsweep64.exe" \
  "$top/build-win64/dupsweep.exe"
cmake -S "$top" -B "$top/build-win32" \
  -DDUPSWEEP_WIN64_PROGRAM="$top/build-win32/dupsweep64.exe" >/dev/null
cmake --build "$top/build-win32" >/dev/null
(cd "$top/build-win32" && cpack >/dev/null)

# The control fields a user sees in apt show.
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "Section is not utils"
dpkg-deb -f "$deb" Depends | grep -q 'libboost-filesystem' ||
  fail "Depends lacks Boost.Filesystem: $(dpkg-deb -f "$deb" Depends)"

# The unpacked program on a directory of its own: b.jpg is the newer copy of
# a.jpg; c.jpg has their size but other bytes; the rest are never candidates.
dpkg-deb -x "$deb" "$scratch/root"
program="$scratch/root/usr/bin/dupsweep"
data="$scratch/photos"
mkdir -p "$data/sub"
printf 'beach\n' >"$data/a.jpg"
printf 'beach\n' >"$data/b.jpg"
printf 'hills\n' >"$data/c.jpg"
printf 'beach\n' >"$data/sub/d.jpg"
ln -s a.jpg "$data/link.jpg"
mkfifo "$data/pipe"
touch -d '2024-05-01 10:00' "$data/a.jpg"
touch -d '2024-05-02 10:00' "$data/b.jpg"
run_status=0
"$program" "$data" >"$scratch/out" 2>"$scratch/err" || run_status=$?
# Listing order is the file system's: compare the lines sorted.
sort "$scratch/out" >"$scratch/out.sorted"
sort >"$scratch/expected" <<EXPECTED

Working in directory: $data

Calculating sha1 ...
Calculating sha1 for $data/a.jpg ... ( a305d869e9c289851969905e71143d035078b736 ) done.
Calculating sha1 for $data/b.jpg ... ( a305d869e9c289851969905e71143d035078b736 ) done.
Calculating sha1 for $data/c.jpg ... ( d16ebd82db3e0a82a57a44ecdc0e68308e22c237 ) done.
Erasing : $data/a.jpg
EXPECTED
diff "$scratch/expected" "$scratch/out.sorted" || fail "unexpected output"
[ "$(tail -n 1 "$scratch/out")" = "Erasing : $data/a.jpg" ] ||
  fail "the last line is not the deletion"
[ ! -s "$scratch/err" ] || fail "standard error: $(cat "$scratch/err")"
[ "$run_status" -eq 0 ] || fail "exit code $run_status after a run"
[ "$(cd "$data" && echo *)" = "b.jpg c.jpg link.jpg pipe sub" ] ||
  fail "files left: $(cd "$data" && echo *)"
[ -f "$data/sub/d.jpg" ] || fail "the subdirectory's file is gone"
run_status=0
"$program" >/dev/null 2>&1 || run_status=$?
[ "$run_status" -eq 255 ] || fail "exit code $run_status after the usage text"

# The manual page as man shows it, with every warning groff can give.
page="$scratch/root/usr/share/man/man1/dupsweep.1.gz"
man --warnings=w -l "$page" >"$scratch/manual" 2>"$scratch/man.err"
[ ! -s "$scratch/man.err" ] || fail "man warns: $(cat "$scratch/man.err")"
grep -q "Kept : NAME (its contents differ from KEEPER)" "$scratch/manual" ||
  fail "the manual page does not render"

echo "lintian $(basename "$deb"):"
lintian --fail-on error --display-info --pedantic "$deb" 2>&1 |
  tee "$scratch/lintian" || fail "lintian"
! grep -q 'hardening' "$scratch/lintian" || fail "lintian notes missing hardening"

# The zip: one folder with both programs, the manual and the licence.
folder="dupsweep-${version}-win32"
unzip -Z1 "$zip" | sort >"$scratch/listing"
diff - "$scratch/listing" <<LISTING || fail "unexpected zip listing"
$folder/LICENSE.txt
$folder/dupsweep.exe
$folder/dupsweep.txt
$folder/dupsweep64.exe
LISTING
unzip -q "$zip" -d "$scratch/zip"
file -b "$scratch/zip/$folder/dupsweep.exe" | grep -q '^PE32 .*Intel 80386' ||
  fail "dupsweep.exe is not a 32-bit program"
file -b "$scratch/zip/$folder/dupsweep64.exe" | grep -q '^PE32+ .*x86-64' ||
  fail "dupsweep64.exe is not a 64-bit program"
# The unpacked 64-bit program under wine64 (the 32-bit one cannot run on this
# kernel), on a pair of its own, reached through Wine's drive Z:.
mkdir "$scratch/pair"
printf 'beach\n' >"$scratch/pair/a.jpg"
printf 'beach\n' >"$scratch/pair/b.jpg"
touch -d '2024-05-01 10:00' "$scratch/pair/a.jpg"
pair="Z:${scratch//\//\\}\\pair"
run_status=0
# A throwaway prefix, whose server is ended before the scratch folder goes.
source "$here/wine_tools.sh"
DUPSWEEP_WINEPREFIX="$scratch/wineprefix" "$here/wine_run.sh" \
  "$scratch/zip/$folder/dupsweep64.exe" "$pair" >"$scratch/out" || run_status=$?
WINEPREFIX="$scratch/wineprefix" "$wineserver" -k 2>/dev/null || true
WINEPREFIX="$scratch/wineprefix" "$wineserver" -w 2>/dev/null || true
tr -d '\r' <"$scratch/out" | sort >"$scratch/out.sorted"  # lines end in CR LF
sort >"$scratch/expected" <<EXPECTED

Working in directory: $pair

Calculating sha1 ...
Calculating sha1 for $pair\a.jpg ... ( a305d869e9c289851969905e71143d035078b736 ) done.
Calculating sha1 for $pair\b.jpg ... ( a305d869e9c289851969905e71143d035078b736 ) done.
Erasing : $pair\a.jpg
EXPECTED
diff "$scratch/expected" "$scratch/out.sorted" || fail "unexpected output under Wine"
[ "$run_status" -eq 0 ] || fail "exit code $run_status under Wine"
[ "$(cd "$scratch/pair" && echo *)" = "b.jpg" ] ||
  fail "files left under Wine: $(cd "$scratch/pair" && echo *)"

# The version resource's strings are UTF-16.
strings -el "$scratch/zip/$folder/dupsweep.exe" | grep -qx "$version" ||
  fail "the version resource does not name $version"

ls -l "$deb" "$zip"
exit "$status"
