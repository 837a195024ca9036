#!/usr/bin/env bash
# Builds a second, newer OpenSSH server for the tests, from Debian 13's source package with
# Debian's patches applied: servers of today offer the ML-KEM key exchange
# (mlkem768x25519-sha256, OpenSSH 9.9 and later, the default from 10.0), which Debian 12's own
# sshd (9.2) lacks. Only the server's programs are built; nothing is installed system-wide.
#   build-openssh.sh            prints the folder that holds sshd, sshd-session and sshd-auth
#
# The build goes to build/openssh/VERSION (a VERSION file names the package version and the
# options); a finished build is reused. Output goes to build/openssh/work/*.log.
set -euo pipefail

suite=trixie
# Bump when the options below change, so that an older build is redone.
options_revision=1

root=$(cd "$(dirname "$0")/.." && pwd)
top=$root/build/openssh
sources=$top/sources
jobs=${TAVRIN_OPENSSH_JOBS:-2}
mkdir -p "$top"

say() { echo "build-openssh: $*" >&2; }
fail() { echo "build-openssh: $*" >&2; exit 1; }
# logged, debian_version, unpacked (into $sources)
. "$(dirname "$0")/debian-sources.sh"

# Several test trees may start their servers at once: one build at a time.
exec 9>"$top/.lock"
flock 9

version=$(debian_version openssh "$suite")
[ -n "$version" ] || fail "apt does not list the openssh/$suite source package: run scripts/setup.sh"
prefix=$top/$version
wanted="openssh $version
options $options_revision"
if [ -x "$prefix/sshd" ] && [ -x "$prefix/sshd-session" ] && [ -x "$prefix/sshd-auth" ] &&
   [ "$(cat "$prefix/VERSION" 2>/dev/null)" = "$wanted" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$sources"
work=$top/work
rm -rf "$work" "$prefix"
mkdir -p "$work"
started=$SECONDS
src=$(unpacked openssh "$suite" "$version")
# Built in a copy: configure writes into the tree.
cp -a "$src/." "$work/tree"
(
  cd "$work/tree"
  # Debian's patches change configure.ac (the tree's aclocal.m4 serves as it is).
  logged "$work/configure.log" autoconf
  logged "$work/configure.log" autoheader
  # Public keys and passwords (the shadow file) are what the tests log in with; the privilege
  # separation folder is the one the system's sshd uses (the fixture creates it).
  logged "$work/configure.log" ./configure --without-pam --without-selinux --without-kerberos5 \
    --without-libedit --without-zlib --with-privsep-path=/run/sshd --sysconfdir="$prefix/etc"
  logged "$work/make.log" make -j "$jobs" sshd sshd-session sshd-auth
  mkdir -p "$prefix.tmp"
  cp sshd sshd-session sshd-auth "$prefix.tmp/"
)
echo "$wanted" >"$prefix.tmp/VERSION"
mv "$prefix.tmp" "$prefix"
rm -rf "$work"
say "built $prefix: OpenSSH $version in $((SECONDS - started)) s"
echo "$prefix"
