#!/usr/bin/env bash
# Makes the release in build/release/:
#   comTavrin-setup-VERSION.exe   the installer (installer/comTavrin.nsi, Debian's makensis)
#   comTavrin-VERSION-x64.msi     the same for deployment (installer/comTavrin.wxs, wixl), with
#                                 the registration in its own Registry table
#   comTavrin-VERSION.zip         x64/ and x86/ with comTavrin.dll and tavrin-check.exe, README.md,
#                                 CHANGELOG.md and REGISTER.txt, for registering by hand
#   tavrin-check_VERSION_amd64.deb  the native tavrin-check for Icinga 2 and Nagios hosts, with
#                                 its Icinga 2 CheckCommand (scripts/make-deb.sh)
#   SHA256SUMS                    of the four
# Builds comTavrin and tavrin-check of the win64 and win32 presets and tavrin-check of the linux
# preset first, configuring a preset whose build tree does not exist yet. VERSION is the one the
# build wrote to build/<preset>/generated/common/version.h (the top CMakeLists' project version).
#
# With a code-signing certificate every PE file is signed (installer/sign.sh, osslsigncode)
# before it is packed into the setup program, the MSI and the zip, and so are the setup
# program, its uninstaller and the MSI; without one the release is unsigned, and says so.
# A signature that fails stops the run.
#   scripts/package.sh
#   TAVRIN_JOBS=N                  parallel build jobs (default 2)
#   TAVRIN_SIGN_PFX=FILE           the code-signing certificate with its key (PKCS#12)
#   TAVRIN_SIGN_PASSWORD_FILE=F    a file holding its password (read by osslsigncode itself)
#   TAVRIN_SIGN_TIMESTAMP_URL=URL  an RFC 3161 time-stamp server for the signatures (optional)
#   TAVRIN_PACKAGE_NO_BUILD=1      build nothing: package the binaries already in the build trees
#   TAVRIN_PACKAGE_TREES=DIR       with TAVRIN_PACKAGE_NO_BUILD, the folder holding the trees
#                                  win64/, win32/ and linux/ (default build)
#   TAVRIN_RELEASE_DIR=DIR         write the release there instead of build/release
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TAVRIN_JOBS:-2}
out=$root/build/release
[ -z "${TAVRIN_RELEASE_DIR:-}" ] || out=$(realpath -m "$TAVRIN_RELEASE_DIR")
stage=$out/stage
no_build=${TAVRIN_PACKAGE_NO_BUILD:-0}
trees=$root/build
[ -z "${TAVRIN_PACKAGE_TREES:-}" ] || trees=$(realpath -m "$TAVRIN_PACKAGE_TREES")

die() { echo "package: $*" >&2; exit 1; }

for tool in cmake makensis zip wixl x86_64-w64-mingw32-strip i686-w64-mingw32-strip x86_64-w64-mingw32-objdump \
  dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done
[ "$no_build" = 1 ] || [ -z "${TAVRIN_PACKAGE_TREES:-}" ] || die "TAVRIN_PACKAGE_TREES needs TAVRIN_PACKAGE_NO_BUILD=1"

signing=0
if [ -n "${TAVRIN_SIGN_PFX:-}" ]; then
  bash installer/sign.sh --check || die "cannot sign: see above"
  # Absolute: makensis runs the signing of the uninstaller in a folder of its own.
  TAVRIN_SIGN_PFX=$(realpath "$TAVRIN_SIGN_PFX")
  TAVRIN_SIGN_PASSWORD_FILE=$(realpath "$TAVRIN_SIGN_PASSWORD_FILE")
  export TAVRIN_SIGN_PFX TAVRIN_SIGN_PASSWORD_FILE
  signing=1
  echo "package: signing with $TAVRIN_SIGN_PFX, time-stamp: ${TAVRIN_SIGN_TIMESTAMP_URL:-none}"
else
  echo "package: no TAVRIN_SIGN_PFX: the release is not signed"
fi
# sign FILE...: in place, when a certificate is given. A failure removes every package this
# run has made, so that none is shipped half signed.
sign() {
  [ "$signing" = 1 ] || return 0
  if ! bash installer/sign.sh "$@" >/dev/null; then
    rm -f "$setup" "$msi" "$zipfile" "$deb" "$out/SHA256SUMS"
    die "signing failed: no package of this run is left"
  fi
}

build_preset() {  # build_preset PRESET TARGET...
  local preset=$1
  shift
  if [ "$no_build" = 1 ]; then
    echo "package: TAVRIN_PACKAGE_NO_BUILD: not building $preset, using $trees/$preset"
    [ -d "$trees/$preset" ] || die "$trees/$preset is missing (TAVRIN_PACKAGE_NO_BUILD builds nothing)"
    return 0
  fi
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
  local header=$trees/$1/generated/common/version.h
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
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no version in $trees/win64/generated/common/version.h"
[ "$(version_of win32)" = "$version" ] || die "win64 is version $version, win32 is $(version_of win32): reconfigure"
echo "package: version $version"

setup=$out/comTavrin-setup-$version.exe
msi=$out/comTavrin-$version-x64.msi
zipfile=$out/comTavrin-$version.zip
deb=$out/tavrin-check_${version}_amd64.deb
rm -rf "$stage"
rm -f "$setup" "$msi" "$zipfile" "$out"/tavrin-check_*_amd64.deb "$out/SHA256SUMS"
mkdir -p "$stage/x64" "$stage/x86"

for name in comTavrin.dll:plugin/com tavrin-check.exe:tools; do
  file=${name%%:*} dir=${name#*:}
  stage_binary "$trees/win64/$dir/$file" "$stage/x64/$file" pei-x86-64 x86_64-w64-mingw32-strip
  stage_binary "$trees/win32/$dir/$file" "$stage/x86/$file" pei-i386 i686-w64-mingw32-strip
done
# Signed here, before anything packs them.
[ "$signing" = 1 ] && echo "package: signing the DLLs and programs"
sign "$stage"/x64/*.dll "$stage"/x64/*.exe "$stage"/x86/*.dll "$stage"/x86/*.exe

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

# makensis signs the uninstaller it writes into the setup program through installer/sign.sh.
[ "$signing" = 1 ] && nsis_defines+=(-DSIGN_SCRIPT="$root/installer/sign.sh")
echo "package: makensis"
makensis -V2 -WX -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" "${nsis_defines[@]}" \
  installer/comTavrin.nsi || { rm -f "$setup"; die "makensis failed"; }
sign "$setup"

echo "package: msi"
product_code=$(bash installer/make-msi.sh "$stage" "$version" "$msi" | tail -n 1) || die "the MSI could not be made"
sign "$msi"
echo "package: $(basename "$msi"): product code $product_code"

echo "package: zip"
(cd "$stage" && zip -q -X -r "$zipfile" x64 x86 "${docs[@]}" REGISTER.txt) || die "zip failed"

echo "package: deb"
made=$(bash scripts/make-deb.sh "$trees/linux" "$out" | tail -n 1) || die "the .deb could not be made"
[ "$made" = "$deb" ] || die "the linux build made $(basename "$made"), expected $(basename "$deb"): reconfigure"

(cd "$out" && sha256sum "$(basename "$setup")" "$(basename "$msi")" "$(basename "$zipfile")" "$(basename "$deb")" >SHA256SUMS)
if [ "$signing" = 1 ]; then echo "package: done, signed"; else echo "package: done, not signed"; fi
ls -l "$setup" "$msi" "$zipfile" "$deb"
