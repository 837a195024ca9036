#!/usr/bin/env bash
# Makes the private key files the key file tests read, in every format this system takes:
#   make-test-keys.sh FOLDER
# For each type NAME (rsa, ecdsa256, ecdsa384, ecdsa521, ed25519) the folder gets
#   NAME NAME.pub          OpenSSH, no pass phrase, and ssh-keygen's public key
#   NAME-enc               OpenSSH, pass phrase
#   NAME-pem NAME-pem-enc  PEM (not for Ed25519), without and with a pass phrase
#   NAME-v2.ppk NAME-v2-enc.ppk NAME-v3.ppk NAME-v3-enc.ppk   PuTTY key files
# and the same for dsa, plus Argon2i and Argon2d variants of the Ed25519 key
# (ed25519-v3-argon2i.ppk, ed25519-v3-argon2d.ppk) and an Ed448 key (ed448-v3.ppk), which libssh
# does not take, and ed25519-slow-enc, whose pass phrase takes about a second to derive
# (bcrypt, 150 rounds). The pass phrase is in pass-phrase.txt (one line, no line end). A file "ready"
# is written last; a folder that has it is reused.
# OpenSSH user certificates, signed by cert-ca (Ed25519) or cert-ca-ecdsa (ECDSA P-384), times in
# UTC, written beside their keys as ssh-keygen -s does (NAME-cert.pub):
#   ed25519-cert.pub   key ID "ed25519 user", serial 42, principals tester and admin, forever
#   ecdsa256-cert.pub  principal tester, from 2025-01-01 00:00:00 until 2025-02-01 00:00:00,
#                      force-command "uptime", no-pty (cert-ca-ecdsa)
#   ecdsa384-cert.pub ecdsa521-cert.pub   principal tester, forever
#   rsa-cert.pub       no principals (any), until 2030-01-01 00:00:00
#   ed25519-host-cert.pub   a host certificate of the Ed25519 key
#   cert-other cert-other-cert.pub   another Ed25519 key and its certificate
# and each CA key's fingerprint as ssh-keygen -l prints it (cert-ca.fingerprint,
# cert-ca-ecdsa.fingerprint).
# Needs ssh-keygen (openssh-client) and puttygen (putty-tools).
set -euo pipefail
folder=$1
stamp=6  # raise when the set of files below changes
mkdir -p "$folder"
cd "$folder"
# Test processes may start side by side: one makes the keys, the others wait and reuse them.
exec 9>"$folder/.lock"
flock 9
if [ "$(cat ready 2>/dev/null)" = "$stamp" ]; then exit 0; fi
rm -f ready
pass='Test pass phrase 1'
printf '%s' "$pass" > pass-phrase.txt

make_keys() {  # NAME TYPE BITS
  local name=$1 type=$2 bits=$3
  rm -f "$name" "$name".pub "$name"-* "$name".ppk
  ssh-keygen -q -t "$type" ${bits:+-b "$bits"} -N '' -C "test key $name" -f "$name"
  cp "$name" "$name-enc"
  ssh-keygen -q -p -N "$pass" -f "$name-enc" >/dev/null
  if [ "$type" != ed25519 ]; then
    cp "$name" "$name-pem"
    ssh-keygen -q -p -m PEM -N '' -f "$name-pem" >/dev/null
    cp "$name" "$name-pem-enc"
    ssh-keygen -q -p -m PEM -N "$pass" -f "$name-pem-enc" >/dev/null
  fi
  puttygen "$name" -O private -o "$name-v3.ppk"
  puttygen "$name" -O private -o "$name-v2.ppk" --ppk-param version=2
  # A few passes instead of a time: the files open as fast under Wine as natively.
  puttygen "$name" -O private -o "$name-v3-enc.ppk" --new-passphrase pass-phrase.txt --ppk-param passes=4
  puttygen "$name" -O private -o "$name-v2-enc.ppk" --new-passphrase pass-phrase.txt --ppk-param version=2
}

make_keys rsa rsa 3072
make_keys ecdsa256 ecdsa 256
make_keys ecdsa384 ecdsa 384
make_keys ecdsa521 ecdsa 521
make_keys ed25519 ed25519 ''
make_keys dsa dsa ''
puttygen ed25519 -O private -o ed25519-v3-argon2i.ppk --new-passphrase pass-phrase.txt \
  --ppk-param kdf=argon2i,passes=3,memory=4096,parallelism=2
puttygen ed25519 -O private -o ed25519-v3-argon2d.ppk --new-passphrase pass-phrase.txt \
  --ppk-param kdf=argon2d,passes=3
: > no-pass-phrase.txt
puttygen -t ed448 -O private -o ed448-v3.ppk --new-passphrase no-pass-phrase.txt
cp ed25519 ed25519-slow-enc
ssh-keygen -q -p -a 150 -N "$pass" -f ed25519-slow-enc >/dev/null

rm -f cert-ca cert-ca.pub cert-ca-ecdsa cert-ca-ecdsa.pub cert-other cert-other.pub ./*-cert.pub
ssh-keygen -q -t ed25519 -N '' -C 'test CA' -f cert-ca
ssh-keygen -q -t ecdsa -b 384 -N '' -C 'test CA ecdsa' -f cert-ca-ecdsa
ssh-keygen -q -t ed25519 -N '' -C 'test key cert-other' -f cert-other
for ca in cert-ca cert-ca-ecdsa; do
  ssh-keygen -l -E sha256 -f "$ca.pub" | cut -d ' ' -f 2 | tr -d '\n' > "$ca.fingerprint"
done
certify() {  # KEY CA OPTIONS...
  local key=$1 ca=$2
  shift 2
  TZ=UTC ssh-keygen -q -s "$ca" "$@" "$key.pub"
}
certify ed25519 cert-ca -I 'ed25519 user' -z 42 -n tester,admin
certify ecdsa256 cert-ca-ecdsa -I 'ecdsa256 user' -z 7 -n tester -V 20250101000000Z:20250201000000Z \
  -O force-command=uptime -O no-pty
certify ecdsa384 cert-ca -I 'ecdsa384 user' -n tester
certify ecdsa521 cert-ca -I 'ecdsa521 user' -n tester
certify rsa cert-ca -I 'rsa user' -V always:20300101000000Z
certify cert-other cert-ca -I 'other user' -n tester
cp ed25519.pub ed25519-host.pub
certify ed25519-host cert-ca -I 'ed25519 host' -h -n test.example
rm -f ed25519-host.pub
echo "$stamp" > ready
