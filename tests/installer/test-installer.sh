#!/usr/bin/env bash
# The release under Wine, as an operator meets it: the installer run silently in a fresh 64-bit
# prefix (both DLLs installed, registered in their registry views, the class created by the
# 64-bit and the 32-bit script host, tavrin-check runnable, the Uninstall entry), run a second
# time over the installed copy, then removed by its quiet uninstall command with nothing of
# ours left in either registry view or on disk. The same, shorter, in a 32-bit prefix (32-bit
# Windows: the 32-bit files alone). And the zip's contents.
#   tests/installer/test-installer.sh [INSTALLER [ZIP]]
# Without arguments scripts/package.sh runs first and its build/release/ files are tested.
# One line per check; the last line is "N passed, M failed"; exit code 0 only if none failed.
#   TAVRIN_KEEP_PREFIX=1   leave the Wine prefixes in build/installer-test/ for a look
# shellcheck disable=SC2317  # the helpers are called through check and check_key
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
here=$root/tests/installer
work=$root/build/installer-test
started=$(date +%s)

# CLSID, LIBID, IID, PROGID, CLASSES; pass, fail, finish
. "$here/checks.sh"
readonly UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\comTavrin'

check() {  # check NAME DETAIL CONDITION...: runs the condition
  local name=$1 detail=$2; shift 2
  if "$@"; then pass "$name"; else fail "$name" "$detail"; fi
}

# --- What to test -----------------------------------------------------------------------------
header=build/win64/generated/common/version.h
mkdir -p "$work"
package_log=$work/package.log
if [ $# -eq 0 ]; then
  t0=$(date +%s)
  if bash scripts/package.sh >"$package_log" 2>&1; then
    pass "scripts/package.sh makes the release ($(($(date +%s) - t0))s)"
  else
    tail -n 30 "$package_log"
    fail "scripts/package.sh makes the release" "see $package_log"
    finish "installer test"
  fi
fi
if [ -f "$header" ]; then
  version=$(sed -n 's/^#define TAVRIN_VERSION_TEXT "\(.*\)"$/\1/p' "$header")
else
  version=
fi
installer=${1:-build/release/comTavrin-setup-$version.exe}
zipfile=${2:-build/release/comTavrin-$version.zip}
check "the build's version is known ($header)" "no TAVRIN_VERSION_TEXT" test -n "$version"
[ -f "$installer" ] || { fail "installer exists" "$installer"; finish "installer test"; }
installer=$(realpath "$installer")
with_changelog=0
[ -f CHANGELOG.md ] && with_changelog=1

# --- Wine -------------------------------------------------------------------------------------
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
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

new_prefix() {  # new_prefix NAME ARCH: a fresh prefix under build/installer-test
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
trap drop_prefix EXIT

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

# Every key of ours. Each is checked present after the install, so that finding it absent
# after the uninstall means something.
our_keys=("$CLASSES\\CLSID\\$CLSID" "$CLASSES\\$PROGID" "$CLASSES\\TypeLib\\$LIBID" "$CLASSES\\Interface\\$IID")

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

# --- Steps shared by both prefixes --------------------------------------------------------------
run_installer() {  # run_installer NAME
  local t0; t0=$(date +%s)
  wine "$(windows_path "$installer")" /S
  local rc=$?
  wineserver_wait
  if [ "$rc" -eq 0 ]; then pass "$1 ($(($(date +%s) - t0))s)"; else fail "$1" "exit code $rc"; fi
}

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
  if [ "$rc" -eq 0 ] && grep -q '^usage: tavrin-check --host HOST' <<<"$out"; then pass "$1"
  else fail "$1" "exit code $rc: $(head -c 200 <<<"$out")"; fi
}

class_gone() {  # class_gone CSCRIPT: that script host no longer finds the class
  wine_capture "$1" //nologo "$(windows_path "$here/create_object.vbs")"
  grep -q '^VERDICT: FAIL: CreateObject' <<<"$out"
}

check_uninstall_entry() {  # check_uninstall_entry VIEW INSTDIR (a Windows path)
  local view=$1 dir=$2
  check_value "Uninstall entry: DisplayVersion is the build's $version" "$view" "$UNINSTALL" DisplayVersion "$version"
  check_value "Uninstall entry: DisplayName" "$view" "$UNINSTALL" DisplayName comTavrin
  detail=
  if value_set "$view" "$UNINSTALL" Publisher; then pass "Uninstall entry: Publisher"; else fail "Uninstall entry: Publisher" "$detail"; fi
  check_value "Uninstall entry: UninstallString" "$view" "$UNINSTALL" UninstallString "\"$dir\\uninstall.exe\""
  check_value "Uninstall entry: QuietUninstallString" "$view" "$UNINSTALL" QuietUninstallString "\"$dir\\uninstall.exe\" /S"
}

# run_quiet_uninstall NAME: the command the Uninstall entry gives, then waiting for the copy
# of itself that an NSIS uninstaller starts from %TEMP%.
run_quiet_uninstall() {  # run_quiet_uninstall NAME VIEW
  local command t0 rc
  t0=$(date +%s)
  reg_value "$2" "$UNINSTALL" QuietUninstallString
  command=$reg_data
  if [[ "$command" =~ ^\"([^\"]+)\"\ (.+)$ ]]; then
    # shellcheck disable=SC2086  # the options are words
    wine "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]}
    rc=$?
    wineserver_wait
    if [ "$rc" -eq 0 ]; then pass "$1 ($(($(date +%s) - t0))s)"; else fail "$1" "exit code $rc"; fi
  else
    fail "$1" "QuietUninstallString is [$command]"
  fi
}

check_nothing_left() {  # check_nothing_left VIEWS...: none of our keys in any of them
  local view key
  for view in "$@"; do
    for key in "${our_keys[@]}" "$UNINSTALL"; do
      check_key "after uninstall: no $key (view $view)" absent "$view" "$key"
    done
  done
}

docs=(README.md)
[ "$with_changelog" = 1 ] && docs+=(CHANGELOG.md)

# --- 64-bit Windows -----------------------------------------------------------------------------
echo "--- 64-bit prefix"
t0=$(date +%s)
if ! new_prefix win64 win64; then
  fail "fresh 64-bit prefix (wineboot -i)" "$WINEPREFIX"
  finish "installer test"
fi
pass "fresh 64-bit prefix ($(($(date +%s) - t0))s)"
reg32='C:\windows\syswow64\reg.exe'
pf64="$WINEPREFIX/drive_c/Program Files/comTavrin"
pf32="$WINEPREFIX/drive_c/Program Files (x86)/comTavrin"
dir64='C:\Program Files\comTavrin'
dir32='C:\Program Files (x86)\comTavrin'

run_installer "silent install (/S) exits with 0"
check_folder "64-bit folder: Program Files\\comTavrin" "$pf64" comTavrin.dll tavrin-check.exe uninstall.exe "${docs[@]}"
check_folder "32-bit folder: Program Files (x86)\\comTavrin" "$pf32" comTavrin.dll tavrin-check.exe
for file in comTavrin.dll tavrin-check.exe; do
  check_format "Program Files\\comTavrin\\$file" "$pf64/$file" pei-x86-64
  check_format "Program Files (x86)\\comTavrin\\$file" "$pf32/$file" pei-i386
done
for doc in "${docs[@]}"; do
  check "$doc installed as in the source tree" "differs" cmp -s "$doc" "$pf64/$doc"
done

check_value "64-bit view: InprocServer32 is the 64-bit DLL" 64 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir64\\comTavrin.dll"
check_value "32-bit view: InprocServer32 is the 32-bit DLL" 32 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir32\\comTavrin.dll"
check_value "HKCR of 64-bit programs: the 64-bit DLL" 64 "HKCR\\CLSID\\$CLSID\\InprocServer32" "" "$dir64\\comTavrin.dll"
check_value "HKCR of 32-bit programs: the 32-bit DLL" 32 "HKCR\\CLSID\\$CLSID\\InprocServer32" "" "$dir32\\comTavrin.dll"
for view in 64 32; do
  check_value "view $view: ProgID $PROGID names the class" "$view" "$CLASSES\\$PROGID\\CLSID" "" "$CLSID"
done
check_value "type library: win64 path" 64 "$CLASSES\\TypeLib\\$LIBID\\1.0\\0\\win64" "" "$dir64\\comTavrin.dll"
check_value "type library: win32 path" 32 "$CLASSES\\TypeLib\\$LIBID\\1.0\\0\\win32" "" "$dir32\\comTavrin.dll"
for view in 64 32; do
  for key in "${our_keys[@]}"; do
    check_key "installed: $key (view $view)" present "$view" "$key"
  done
done

check_uninstall_entry 64 "$dir64"
check_key "Uninstall entry in the 64-bit view only" absent 32 "$UNINSTALL"

vbscript_check "64-bit cscript creates $PROGID and runs a check" cscript AMD64
vbscript_check "32-bit cscript (SysWOW64) creates $PROGID and runs a check" 'C:\windows\syswow64\cscript.exe' x86
help_check "64-bit tavrin-check.exe --help from the install folder" "$dir64\\tavrin-check.exe"
help_check "32-bit tavrin-check.exe --help from the install folder" "$dir32\\tavrin-check.exe"

run_installer "installing again over the installed copy exits with 0"
check_value "still registered for 64-bit hosts" 64 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir64\\comTavrin.dll"
check_value "still registered for 32-bit hosts" 32 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir32\\comTavrin.dll"

run_quiet_uninstall "quiet uninstall (QuietUninstallString) exits with 0" 64
check_nothing_left 64 32
check "after uninstall: no Program Files\\comTavrin" "holds [$(listing "$pf64")]" test ! -e "$pf64"
check "after uninstall: no Program Files (x86)\\comTavrin" "holds [$(listing "$pf32")]" test ! -e "$pf32"
check "after uninstall: 64-bit CreateObject fails" "the class is still found" class_gone cscript
check "after uninstall: 32-bit CreateObject fails" "the class is still found" class_gone 'C:\windows\syswow64\cscript.exe'
drop_prefix

# --- 32-bit Windows -----------------------------------------------------------------------------
echo "--- 32-bit prefix"
t0=$(date +%s)
if new_prefix win32 win32; then
  pass "fresh 32-bit prefix ($(($(date +%s) - t0))s)"
  reg32=reg
  pf="$WINEPREFIX/drive_c/Program Files/comTavrin"
  dir='C:\Program Files\comTavrin'
  run_installer "32-bit Windows: silent install exits with 0"
  check_folder "32-bit Windows: Program Files\\comTavrin holds the 32-bit files alone" "$pf" \
    comTavrin.dll tavrin-check.exe uninstall.exe "${docs[@]}"
  check_format "32-bit Windows: Program Files\\comTavrin\\comTavrin.dll" "$pf/comTavrin.dll" pei-i386
  check_value "32-bit Windows: InprocServer32 is the 32-bit DLL" 32 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir\\comTavrin.dll"
  check_uninstall_entry 32 "$dir"
  vbscript_check "32-bit Windows: cscript creates $PROGID and runs a check" cscript x86
  run_quiet_uninstall "32-bit Windows: quiet uninstall exits with 0" 32
  check_nothing_left 32
  check "32-bit Windows: after uninstall no Program Files\\comTavrin" "holds [$(listing "$pf")]" test ! -e "$pf"
else
  fail "fresh 32-bit prefix (wineboot -i)" "$WINEPREFIX"
fi
drop_prefix

# --- The zip ------------------------------------------------------------------------------------
echo "--- zip"
if [ -f "$zipfile" ]; then
  unpacked=$(mktemp -d)
  if unzip -q "$zipfile" -d "$unpacked"; then
    pass "zip unpacks"
    check_folder "zip: top level" "$unpacked" x64 x86 REGISTER.txt "${docs[@]}"
    check_folder "zip: x64/" "$unpacked/x64" comTavrin.dll tavrin-check.exe
    check_folder "zip: x86/" "$unpacked/x86" comTavrin.dll tavrin-check.exe
    for file in comTavrin.dll tavrin-check.exe; do
      check_format "zip: x64/$file" "$unpacked/x64/$file" pei-x86-64
      check_format "zip: x86/$file" "$unpacked/x86/$file" pei-i386
    done
    register_text_ok() {
      local f=$unpacked/REGISTER.txt
      # CRLF throughout, the version filled in, both regsvr32 and both scopes named.
      [ "$(grep -c $'\r$' "$f")" -eq "$(wc -l <"$f")" ] && grep -q "comTavrin $version" "$f" &&
        ! grep -q '@VERSION@' "$f" && grep -q 'SysWOW64\\regsvr32.exe' "$f" &&
        grep -q 'System32\\regsvr32.exe /n /i:user' "$f"
    }
    check "zip: REGISTER.txt (CRLF, version, both regsvr32, per user)" "see $zipfile" register_text_ok
  else
    fail "zip unpacks" "$zipfile"
  fi
  rm -rf "$unpacked"
else
  fail "zip exists" "$zipfile"
fi

finish "installer test"
