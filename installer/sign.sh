#!/usr/bin/env bash
# Signs files in place with Authenticode (osslsigncode): PE files (.dll, .exe) and MSI packages.
#   installer/sign.sh FILE...
#   installer/sign.sh --check    only checks the settings below
#   TAVRIN_SIGN_PFX            the code-signing certificate and its key (PKCS#12)
#   TAVRIN_SIGN_PASSWORD_FILE  a file holding its password (first line); osslsigncode reads it
#                              itself (-readpass), so the password is on no command line
#   TAVRIN_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Exits non-zero, leaving the file as it was, when a signature cannot be made. scripts/package.sh
# calls it, and makensis for the uninstaller it writes (!uninstfinalize).
set -euo pipefail

die() { echo "sign: $*" >&2; exit 1; }
[ $# -gt 0 ] || die "usage: sign.sh FILE... | --check"
pfx=${TAVRIN_SIGN_PFX:-}
password=${TAVRIN_SIGN_PASSWORD_FILE:-}
[ -n "$pfx" ] || die "TAVRIN_SIGN_PFX is not set"
[ -r "$pfx" ] || die "TAVRIN_SIGN_PFX: $pfx cannot be read"
[ -n "$password" ] || die "TAVRIN_SIGN_PASSWORD_FILE is not set (a file holding the certificate's password)"
[ -r "$password" ] || die "TAVRIN_SIGN_PASSWORD_FILE: $password cannot be read"
command -v osslsigncode >/dev/null || die "osslsigncode is missing (scripts/setup.sh installs it)"
[ "$1" = --check ] && exit 0

options=(-pkcs12 "$pfx" -readpass "$password" -h sha256 -n comTavrin)
if [ -n "${TAVRIN_SIGN_TIMESTAMP_URL:-}" ]; then
  options+=(-ts "$TAVRIN_SIGN_TIMESTAMP_URL")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for file in "$@"; do
  [ -f "$file" ] || die "$file is missing"
  # osslsigncode writes a new file; the original is replaced only by a complete signed copy
  # that holds a signature.
  rm -f "$work/signed" "$work/signature"
  if ! osslsigncode sign "${options[@]}" -in "$file" -out "$work/signed" >"$work/log" 2>&1 ||
     ! osslsigncode extract-signature -in "$work/signed" -out "$work/signature" >>"$work/log" 2>&1; then
    cat "$work/log" >&2
    die "signing $file failed"
  fi
  chmod --reference="$file" "$work/signed"
  mv -f "$work/signed" "$file"
  echo "sign: $file"
done
