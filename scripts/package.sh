#!/usr/bin/env bash
# Makes the release in build/release/:
#   comTavrin-setup-VERSION.exe   the installer (installer/comTavrin.nsi, Debian's makensis)
#   comTavrin-VERSION.zip         x64/ and x86/ with comTavrin.dll and tavrin-check.exe, README.md,
#                                 CHANGELOG.md and REGISTER.txt, for registering by hand
#   tavrin-check_VERSION_amd64.deb  the native tavrin-check for Icinga 2 and Nagios hosts, with
#                                 its Icinga 2 CheckCommand (scripts/make-deb.sh)
#   SHA256SUMS                    of the three
# Builds comTavrin and tavrin-check of the win64 and win32 presets and tavrin-check of the linux
# preset first, configuring a preset whose build tree does not exist yet. VERSION is the one the
# build wrote to build/<preset>/generated/common/version.h (the top CMakeLists' project version).
#   scripts/package.sh
#   TAVRIN_JOBS=N   parallel build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TAVRIN_JOBS:-2}
out=$root/build/release
stage=$out/stage

die() { echo "package: $*" >&2; exit 1; }

for tool in cmake makensis zip x86_64-w64-mingw32-strip i686-w64-mingw32-strip x86_64-w64-mingw32-objdump \
  dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done

build_preset() {  # build_preset PRESET TARGET...
  local preset=$1
  shift
  mkdir -p build
  if [ ! -f "build/$preset/build.ninja" ]; then
    echo "package: configuring $preset"
    if ! cmake --preset "$preset" >"build/configure-$preset.log" 2>&1; then
      tail -n 40 "build/configure-$preset.log"
      die "configuring $preset failed (build/configure-$preset.log)"
    fi
  fi
  echo "package: building $preset"
  cmake --build --preset "$preset" --target "$@" -j "$jobs" || die "building $preset failed"
}

version_of() {  # version_of PRESET: the version text the build generated
  local header=build/$1/generated/common/version.h
  [ -f "$header" ] || die "$header is missing"
  sed -n 's/^#define TAVRIN_VERSION_TEXT "\(.*\)"$/\1/p' "$header"
}

# stage_binary FILE DEST FORMAT STRIP: a copy without debug information, after making sure that
# the file is of the expected bitness (objdump's "file format": pei-x86-64 or pei-i386).
stage_binary() {
  local file=$1 dest=$2 format=$3 strip=$4
  [ -f "$file" ] || die "$file is missing"
  local actual
  actual=$(x86_64-w64-mingw32-objdump -f "$file" | sed -n 's/.*file format //p')
  [ "$actual" = "$format" ] || die "$file is $actual, expected $format"
  "$strip" --strip-debug -o "$dest" "$file"
}

build_preset win64 comTavrin tavrin-check
build_preset win32 comTavrin tavrin-check
build_preset linux tavrin-check

version=$(version_of win64)
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no version in build/win64/generated/common/version.h"
[ "$(version_of win32)" = "$version" ] || die "win64 is version $version, win32 is $(version_of win32): reconfigure"
echo "package: version $version"

setup=$out/comTavrin-setup-$version.exe
zipfile=$out/comTavrin-$version.zip
deb=$out/tavrin-check_${version}_amd64.deb
rm -rf "$stage"
rm -f "$setup" "$zipfile" "$out"/tavrin-check_*_amd64.deb "$out/SHA256SUMS"
mkdir -p "$stage/x64" "$stage/x86"

for name in comTavrin.dll:plugin/com tavrin-check.exe:tools; do
  file=${name%%:*} dir=${name#*:}
  stage_binary "build/win64/$dir/$file" "$stage/x64/$file" pei-x86-64 x86_64-w64-mingw32-strip
  stage_binary "build/win32/$dir/$file" "$stage/x86/$file" pei-i386 i686-w64-mingw32-strip
done

docs=(README.md)
nsis_defines=()
cp README.md "$stage/"
if [ -f CHANGELOG.md ]; then
  cp CHANGELOG.md "$stage/"
  docs+=(CHANGELOG.md)
  nsis_defines+=(-DWITH_CHANGELOG)
fi
# REGISTER.txt is read in Notepad: CRLF line ends.
sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' installer/REGISTER.txt >"$stage/REGISTER.txt"

echo "package: makensis"
makensis -V2 -WX -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" "${nsis_defines[@]}" \
  installer/comTavrin.nsi || die "makensis failed"

echo "package: zip"
(cd "$stage" && zip -q -X -r "$zipfile" x64 x86 "${docs[@]}" REGISTER.txt) || die "zip failed"

echo "package: deb"
made=$(bash scripts/make-deb.sh build/linux "$out" | tail -n 1) || die "the .deb could not be made"
[ "$made" = "$deb" ] || die "the linux build made $(basename "$made"), expected $(basename "$deb"): reconfigure"

(cd "$out" && sha256sum "$(basename "$setup")" "$(basename "$zipfile")" "$(basename "$deb")" >SHA256SUMS)
echo "package: done"
ls -l "$setup" "$zipfile" "$deb"
