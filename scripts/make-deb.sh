#!/usr/bin/env bash
# Makes the Debian package of the native tavrin-check, for Icinga 2 and Nagios hosts:
#   OUT_DIR/tavrin-check_VERSION_amd64.deb
#     /usr/lib/nagios/plugins/tavrin-check                           the plug-in
#     /usr/share/icinga2/include/plugins-contrib.d/tavrin-check.conf  its CheckCommand
#     /usr/share/doc/tavrin-check/README.md
# from BUILD_DIR/tools/tavrin-check of a native build (libssh linked statically; the shared
# libraries it needs become Depends, as dpkg-shlibdeps finds them). VERSION is what the program
# says with -V. Prints the package's path as its last line.
#   scripts/make-deb.sh BUILD_DIR OUT_DIR
# Used by scripts/package.sh and by tests/tools/icinga2_e2e.sh.
set -euo pipefail

die() { echo "make-deb: $*" >&2; exit 1; }
[ $# -eq 2 ] || die "usage: make-deb.sh BUILD_DIR OUT_DIR"
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1 out=$2
program=$build/tools/tavrin-check
conf=$root/contrib/icinga2/tavrin-check.conf

for tool in dpkg-deb dpkg-shlibdeps objdump strip ldd; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh installs it)"
done
[ -x "$program" ] || die "$program is missing: build the target tavrin-check of a native preset"
format=$(objdump -f "$program" | sed -n 's/.*file format //p')
[ "$format" = elf64-x86-64 ] || die "$program is $format, expected elf64-x86-64 (a native build)"
# libssh is linked in; a libssh.so would be a dependency that no Depends line names.
if ldd "$program" | grep -q 'libssh'; then
  die "$program needs a shared libssh: $(ldd "$program" | grep libssh)"
fi
version=$(timeout 10 "$program" -V | sed -n 's/^tavrin-check \([0-9][0-9.]*\)$/\1/p')
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "$program -V names no version"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pkg=$work/debian/tavrin-check
install -d -m 0755 "$pkg/DEBIAN" "$pkg/usr/lib/nagios/plugins" \
  "$pkg/usr/share/icinga2/include/plugins-contrib.d" "$pkg/usr/share/doc/tavrin-check"
strip --strip-unneeded -o "$pkg/usr/lib/nagios/plugins/tavrin-check" "$program"
chmod 0755 "$pkg/usr/lib/nagios/plugins/tavrin-check"
install -m 0644 "$conf" "$pkg/usr/share/icinga2/include/plugins-contrib.d/tavrin-check.conf"
install -m 0644 "$root/README.md" "$pkg/usr/share/doc/tavrin-check/README.md"

# dpkg-shlibdeps reads debian/control; its warning that the binary is not in an installed
# package's directory is about a build tree of debhelper's layout, which this is not.
printf 'Source: tavrin-check\n\nPackage: tavrin-check\nArchitecture: amd64\n' >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O -e "$pkg/usr/lib/nagios/plugins/tavrin-check" 2>"$work/shlibdeps.err" \
  | sed -n 's/^shlibs:Depends=//p') || { cat "$work/shlibdeps.err" >&2; die "dpkg-shlibdeps failed"; }
grep -v "installed in their package's directory" "$work/shlibdeps.err" >&2 || true
[ -n "$depends" ] || die "dpkg-shlibdeps found no dependencies"
size=$(du -k -s "$pkg/usr" | cut -f1)

cat >"$pkg/DEBIAN/control" <<CONTROL
Package: tavrin-check
Version: $version
Architecture: amd64
Maintainer: comTavrin developers <comtavrin@localhost>
Installed-Size: $size
Depends: $depends
Suggests: icinga2 | nagios4
Section: net
Priority: optional
Description: SSH command check with a stored parameter string
 tavrin-check runs one command on a server over SSH and judges its output by
 the rule of a parameter string, as the comTavrin plug-in does on Windows. It
 is a monitoring plug-in for Nagios-style engines (-H, -t, -w/-c ranges,
 --perfdata, exit status 0/1/2/3). An Icinga 2 CheckCommand "tavrin-check" is
 included in plugins-contrib.d.
CONTROL
(cd "$pkg" && find usr -type f -exec md5sum {} + | sort -k 2) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

mkdir -p "$out"
deb=$(cd "$out" && pwd)/tavrin-check_${version}_amd64.deb
rm -f "$deb"
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null || die "dpkg-deb failed"
echo "$deb"
