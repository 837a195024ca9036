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
# Needs ssh-keygen (openssh-client) and puttygen (putty-tools).
set -euo pipefail
folder=$1
stamp=5  # raise when the set of files below changes
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
echo "$stamp" > ready
