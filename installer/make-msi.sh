#!/usr/bin/env bash
# Builds the MSI package (installer/comTavrin.wxs) with wixl from a stage folder.
#   installer/make-msi.sh STAGE VERSION OUTFILE
# STAGE holds x64/ and x86/ (comTavrin.dll and tavrin-check.exe each), README.md and, when
# present, CHANGELOG.md. VERSION is major.minor.build.revision. Prints the product code on its
# last line.
#
# The product code is derived from the UpgradeCode and the version (a name-based GUID): the
# same version always has the same product code, which deployment tools use to detect it; a
# new version has a new one, so installing it is a major upgrade of the old.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
die() { echo "make-msi: $*" >&2; exit 1; }
[ $# -eq 3 ] || die "usage: make-msi.sh STAGE VERSION OUTFILE"
stage=$1 version=$2 outfile=$3
command -v wixl >/dev/null || die "wixl is missing (scripts/setup.sh installs it)"
[[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || die "version $version is not major.minor.build.revision"
next_build=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))
for file in x64/comTavrin.dll x64/tavrin-check.exe x86/comTavrin.dll x86/tavrin-check.exe README.md; do
  [ -f "$stage/$file" ] || die "$stage/$file is missing"
done

upgrade_code=$(sed -n 's/.*<?define UpgradeCode = "\({[0-9A-F-]*}\)" ?>.*/\1/p' "$here/comTavrin.wxs")
[ -n "$upgrade_code" ] || die "no UpgradeCode in $here/comTavrin.wxs"
hash=$(printf '%s/%s' "$upgrade_code" "$version" | sha256sum | tr a-f A-F)
variant=$(printf '%X' $(( (16#${hash:16:1} & 3) | 8 )))
product_code="{${hash:0:8}-${hash:8:4}-5${hash:13:3}-${variant}${hash:17:3}-${hash:20:12}}"

defines=(-D "Version=$version" -D "NextBuild=$next_build" -D "ProductCode=$product_code")
[ -f "$stage/CHANGELOG.md" ] && defines+=(-D WithChangelog=1)
outfile=$(realpath -m "$outfile")
rm -f "$outfile"
# wixl takes the File sources relative to the folder it runs in.
if ! (cd "$stage" && wixl -a x64 -I "$here" "${defines[@]}" -o "$outfile" "$here/comTavrin.wxs") >"$outfile.log" 2>&1 ||
   [ ! -s "$outfile" ]; then
  cat "$outfile.log" >&2
  rm -f "$outfile" "$outfile.log"
  die "wixl failed"
fi
rm -f "$outfile.log"
echo "$product_code"
