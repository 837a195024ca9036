#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the main job need.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  googletest libgtest-dev
  clang libclang-rt-14-dev
  openssh-server openssh-client putty-tools
  libssl-dev libgcrypt20-dev libpcre2-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  libwine-dev wine wine64 wine32:i386 fonts-wine
  xvfb xauth imagemagick x11-utils
  dpkg-dev autoconf patch procps psmisc
  nsis zip unzip wixl msitools
  python3-paramiko strace iptables
  icinga2 monitoring-plugins-basic
)

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# deb-src entries, signed by the same archive keyring as the binary entries: Debian 12's own
# suites, plus Debian 13 and testing, from which scripts/build-libssh.sh takes libssh,
# libgcrypt20 and libgpg-error by naming the suite (libssh/testing, libgcrypt20/trixie), and
# scripts/build-pcre2.sh Debian 13's pcre2 (by version, pcre2=10.46-1~deb13u2).
# Source entries only: no binary package comes from the newer suites.
binary=/etc/apt/sources.list.d/debian.sources
src=/etc/apt/sources.list.d/debian-src.sources
if [ ! -f "$src" ]; then
  sed 's/^Types: deb$/Types: deb-src/' "$binary" > "$src"
  need_update=1
fi
newer=/etc/apt/sources.list.d/debian-newer-src.sources
uri=$(awk '$1 == "URIs:" && $2 ~ /\/debian\/?$/ { print $2; exit }' "$binary")
keyring=$(awk '$1 == "Signed-By:" { print $2; exit }' "$binary")
newer_text="Types: deb-src
URIs: ${uri:-http://deb.debian.org/debian}
Suites: trixie testing
Components: main
Signed-By: ${keyring:-/usr/share/keyrings/debian-archive-keyring.gpg}"
if [ "$(cat "$newer" 2>/dev/null)" != "$newer_text" ]; then
  printf '%s\n' "$newer_text" > "$newer"
  need_update=1
fi
# Debian 12's backports, for osslsigncode 2.9 (bookworm has 2.5): the suite's packages have a
# low priority, so that nothing but what is named from it (osslsigncode/bookworm-backports)
# comes from there.
backports=/etc/apt/sources.list.d/debian-backports.sources
backports_text="Types: deb
URIs: ${uri:-http://deb.debian.org/debian}
Suites: bookworm-backports
Components: main
Signed-By: ${keyring:-/usr/share/keyrings/debian-archive-keyring.gpg}"
if [ "$(cat "$backports" 2>/dev/null)" != "$backports_text" ]; then
  printf '%s\n' "$backports_text" > "$backports"
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

stamp=/var/lib/apt/periodic/comtavrin-update-stamp
if [ "${#missing[@]}" -gt 0 ] || [ "$need_update" = 1 ] || [ ! -f "$stamp" ]; then
  apt-get update -q
  mkdir -p "$(dirname "$stamp")" && touch "$stamp"
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# osslsigncode 2.9 or later (the release's signatures, scripts/package.sh): from the backports.
signer_version=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || true)
if ! dpkg-query -W -f='${Status}' osslsigncode 2>/dev/null | grep -q 'install ok installed' ||
   ! dpkg --compare-versions "$signer_version" ge 2.9; then
  echo "setup: installing osslsigncode from bookworm-backports (have: ${signer_version:-none})"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends osslsigncode/bookworm-backports
fi

# The icinga2 package starts and enables a system daemon; the tests start instances of their own
# (own folder, own port), so none is left running or starting at boot beside them.
if [ -x /etc/init.d/icinga2 ]; then
  if [ -d /run/systemd/system ]; then
    systemctl disable --now icinga2.service >/dev/null 2>&1 || true
  else
    if [ -s /run/icinga2/icinga2.pid ] && kill -0 "$(cat /run/icinga2/icinga2.pid)" 2>/dev/null; then
      /etc/init.d/icinga2 stop >/dev/null 2>&1 || true
    fi
    systemctl disable icinga2.service >/dev/null 2>&1 || true
    update-rc.d icinga2 disable >/dev/null 2>&1 || true
  fi
fi

# sshd refuses to start as root without its privilege separation directory.
install -d -m 0755 -o root -g root /run/sshd
echo "setup: all packages present"
