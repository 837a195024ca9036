# Sourced by the Wine tests of registration and installation (test-installer.sh, test-msi.sh,
# tests/wine/both-bitnesses.sh): the component's registry identities, and the PASS/FAIL lines
# with their counts. The caller sets $started (date +%s) before it calls finish.
# The installer tests also use the helpers below for Wine prefixes, the registry, files and
# signatures; they set $work (the folder for their prefixes), $here (tests/installer) and, for
# the 32-bit registry view, $reg32 (a 32-bit reg.exe).
# shellcheck disable=SC2034  # the identities are the callers'
readonly CLSID='{322638D6-66B5-47EF-A5A3-0C7C351EAC9B}'
readonly LIBID='{73276987-F23D-4A48-8A49-8BFEB7B2B442}'
readonly IID='{35EBB8F1-E6CE-4979-8421-D2E60058C7A7}'
readonly PROGID='comTavrin.TavrinCom'
readonly CLASSES='HKLM\Software\Classes'
# Every key of ours. The tests check each present after an install, so that finding it absent
# after the removal means something.
our_keys=("$CLASSES\\CLSID\\$CLSID" "$CLASSES\\$PROGID" "$CLASSES\\TypeLib\\$LIBID" "$CLASSES\\Interface\\$IID")

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1${2:+: $2}"; }
# skip NAME WHY: a check that this machine cannot run; counted apart, never as passed.
skip() { skipped=$((skipped + 1)); echo "SKIP: $1: $2"; }
# finish LABEL: the time taken and "N passed, M failed"; exits 0 only if none failed.
finish() {
  echo "$1: $(($(date +%s) - started))s"
  [ "$skipped" -eq 0 ] || echo "$skipped skipped"
  echo "$passed passed, $failed failed"
  if [ "$failed" -eq 0 ]; then exit 0; else exit 1; fi
}

check() {  # check NAME DETAIL CONDITION...: runs the condition
  local name=$1 detail=$2; shift 2
  if "$@"; then pass "$name"; else fail "$name" "$detail"; fi
}

# Some machines' kernels run no 32-bit programs (their 32-bit emulation is off): neither Wine's
# 32-bit loader nor a 32-bit program in a 64-bit prefix starts there.
runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
readonly NO_32BIT="this machine's kernel runs no 32-bit programs"

# --- Wine -------------------------------------------------------------------------------------
loader=
wine() { timeout -k 5 120 "$loader" "$@"; }
wineserver_wait() { timeout -k 5 60 /usr/lib/wine/wineserver -w; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# wine_capture PROGRAM [ARGS...]: standard output and error in $out (without CRs), the exit
# code returned. Into a file, not a pipe: a wineserver that this call starts inherits the
# descriptors and would hold a pipe open for its few seconds of lingering.
out=
capture_file=
wine_capture() {
  wine "$@" >"$capture_file" 2>&1
  local rc=$?
  out=$(tr -d '\r' <"$capture_file")
  return "$rc"
}

new_prefix() {  # new_prefix NAME ARCH: a fresh prefix under $work
  export WINEPREFIX=$work/$1 WINEARCH=$2
  if [ "$2" = win64 ]; then loader=/usr/lib/wine/wine64; else loader=/usr/lib/wine/wine; fi
  rm -rf "$WINEPREFIX"
  mkdir -p "$work"
  capture_file=$work/$1.out
  wine wineboot -i >/dev/null 2>&1
  local rc=$?
  wineserver_wait
  [ "$rc" -eq 0 ] && [ -f "$WINEPREFIX/system.reg" ]
}
drop_prefix() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
  [ "${TAVRIN_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$WINEPREFIX" "$capture_file"
  unset WINEPREFIX
}

# --- Registry ---------------------------------------------------------------------------------
# Each view as the programs of that bitness see it: the 64-bit view through the 64-bit reg.exe,
# the 32-bit one through a 32-bit reg.exe (SysWOW64's on 64-bit Windows). Wine's 64-bit
# "reg /reg:32" misses the keys that WOW64 shares between the views (a ProgID below Classes),
# which a 32-bit host does find.
reg32=
reg_query() {  # reg_query VIEW KEY [reg options]: the output in $out, reg's exit code returned
  local view=$1 key=$2; shift 2
  if [ "$view" = 64 ]; then wine_capture reg query "$key" "$@" /reg:64
  else wine_capture "$reg32" query "$key" "$@"; fi
}
key_present() { reg_query "$1" "$2"; }
# Absent: reg says so; any other failure (a bad query) does not count as absent.
key_absent() { ! reg_query "$1" "$2" && grep -qi 'unable to find' <<<"$out"; }
reg_data=
reg_value() {  # reg_value VIEW KEY NAME: the data in $reg_data (NAME "" for the default value)
  local view=$1 key=$2 name=$3
  reg_data=
  if [ -z "$name" ]; then reg_query "$view" "$key" /ve || return 1; name='(Default)'
  else reg_query "$view" "$key" /v "$name" || return 1; fi
  # "    NAME    REG_SZ    DATA"; the data may hold blanks of its own.
  reg_data=$(awk -v n="$name" 'BEGIN { FS = "    " }
    $2 == n && $3 ~ /^REG_/ { print substr($0, length("    " n "    " $3 "    ") + 1); found = 1; exit }
    END { exit !found }' <<<"$out")
}
detail=
value_is() {  # value_is VIEW KEY NAME EXPECTED
  reg_value "$1" "$2" "$3" || { detail="no value: $(head -c 200 <<<"$out")"; return 1; }
  detail="[$reg_data], expected [$4]"
  [ "$reg_data" = "$4" ]
}
value_set() {  # value_set VIEW KEY NAME
  reg_value "$1" "$2" "$3" || { detail="no value: $(head -c 200 <<<"$out")"; return 1; }
  detail="empty"
  [ -n "$reg_data" ]
}
check_value() {  # check_value NAME VIEW KEY VALUE EXPECTED
  local name=$1; shift
  detail=
  if value_is "$@"; then pass "$name"; else fail "$name" "$detail"; fi
}

check_key() {  # check_key NAME present|absent VIEW KEY
  local name=$1 want=$2
  if "key_$want" "$3" "$4"; then pass "$name"
  else fail "$name" "$(grep -v '^$' <<<"$out" | head -n 3 | tr '\n' ' ' | head -c 300)"; fi
}


# --- Files ------------------------------------------------------------------------------------
pe_format() { x86_64-w64-mingw32-objdump -f "$1" 2>/dev/null | sed -n 's/.*file format //p'; }
listing() { (cd "$1" 2>/dev/null && ls -A | sort | tr '\n' ' '); }
check_folder() {  # check_folder NAME DIR FILES...: DIR holds exactly FILES
  local name=$1 dir=$2; shift 2
  local expected actual
  expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  actual=$(listing "$dir")
  if [ "$actual" = "$expected" ]; then pass "$name"; else fail "$name" "holds [$actual], expected [$expected]"; fi
}
check_format() {  # check_format LABEL FILE FORMAT
  local actual; actual=$(pe_format "$2")
  if [ "$actual" = "$3" ]; then pass "$1 is $3"; else fail "$1 is $3" "${actual:-not found}"; fi
}

# --- Script hosts and programs ------------------------------------------------------------------
# vbscript_check NAME CSCRIPT ARCHITECTURE: the class created and a check run by that host
vbscript_check() {
  local name=$1 cscript=$2 arch=$3 rc
  wine_capture "$cscript" //nologo "$(windows_path "$here/create_object.vbs")"
  rc=$?
  if ! grep -qx "ARCHITECTURE: $arch" <<<"$out"; then
    fail "$name" "not a $arch script host: $(head -c 300 <<<"$out")"
  elif grep -qx 'VERDICT: PASS' <<<"$out" && [ "$rc" -eq 0 ]; then
    pass "$name"
  else
    fail "$name" "exit code $rc: $(grep -m1 VERDICT <<<"$out" || head -c 300 <<<"$out")"
  fi
}

help_check() {  # help_check NAME EXE (a Windows path)
  local rc
  wine_capture "$2" --help
  rc=$?
  if [ "$rc" -eq 0 ] && grep -q '^usage: tavrin-check -H HOST' <<<"$out"; then pass "$1"
  else fail "$1" "exit code $rc: $(head -c 200 <<<"$out")"; fi
}

class_gone() {  # class_gone CSCRIPT: that script host no longer finds the class
  wine_capture "$1" //nologo "$(windows_path "$here/create_object.vbs")"
  grep -q '^VERDICT: FAIL: CreateObject' <<<"$out"
}

# --- Signatures ---------------------------------------------------------------------------------
# make_signing_certificate DIR: a throwaway CA and a code-signing certificate issued by it, in
# DIR (made private): DIR/ca.pem, DIR/signer.pfx and its password in DIR/password.
make_signing_certificate() {
  local dir=$1
  mkdir -p "$dir" && chmod 0700 "$dir" || return 1
  (
    set -e
    cd "$dir"
    umask 077
    printf 'throwaway %s\n' "$RANDOM$RANDOM" >password
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=comTavrin test CA" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=comTavrin test signer"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out signer.pem -extfile signer.ext
    openssl pkcs12 -export -in signer.pem -inkey signer.key -out signer.pfx -passout file:password -name signer
    rm -f ca.key signer.key signer.csr
  ) >"$dir/openssl.log" 2>&1
}

# check_signed LABEL FILE CAFILE: FILE carries an Authenticode signature that chains to CAFILE.
check_signed() {
  local result
  if result=$(osslsigncode verify -CAfile "$3" -in "$2" 2>&1); then pass "$1 is signed"
  else fail "$1 is signed" "$(grep -m1 -i -E 'fail|error|no signature' <<<"$result" | head -c 200)"; fi
}

# install_folders: where an installation in $WINEPREFIX puts our files (pf64, pf32 as Linux
# paths; dir64, dir32 as Windows paths) and the 32-bit reg.exe (reg32).
install_folders() {
  reg32='C:\windows\syswow64\reg.exe'
  pf64="$WINEPREFIX/drive_c/Program Files/comTavrin"
  pf32="$WINEPREFIX/drive_c/Program Files (x86)/comTavrin"
  dir64='C:\Program Files\comTavrin'
  dir32='C:\Program Files (x86)\comTavrin'
}
