#!/usr/bin/env bash
# The release under Wine, as an operator meets it: the installer run silently in a fresh 64-bit
# prefix (both DLLs installed, registered in their registry views, the class created by the
# 64-bit and the 32-bit script host, tavrin-check runnable, the Uninstall entry), run a second
# time over the installed copy, then removed by its quiet uninstall command with nothing of
# ours left in either registry view or on disk. The same, shorter, in a 32-bit prefix (32-bit
# Windows: the 32-bit files alone). The zip's contents. The MSI package (test-msi.sh). And
# the signatures: every DLL and program in the setup program, the MSI and the zip, and those
# two packages themselves, signed by the certificate the release was made with.
#   tests/installer/test-installer.sh [INSTALLER [ZIP [MSI]]]
# Without arguments scripts/package.sh runs first, signing with a throwaway certificate made
# here, and its files are tested; with arguments, the signatures are checked when
# TAVRIN_TEST_CAFILE names the CA that the certificate chains to.
# The installer is a 32-bit program: on a machine whose kernel runs no 32-bit programs its
# part and the 32-bit parts of the MSI's are reported as skipped (SKIP lines).
# One line per check; the last line is "N passed, M failed"; exit code 0 only if none failed.
#   TAVRIN_KEEP_PREFIX=1        leave the Wine prefixes for a look
#   TAVRIN_INSTALLER_TEST_DIR   the folder for prefixes and logs (default build/installer-test)
#   TAVRIN_RELEASE_DIR, TAVRIN_PACKAGE_TREES, TAVRIN_PACKAGE_NO_BUILD: as scripts/package.sh
# shellcheck disable=SC2317  # the helpers are called through check and check_key
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
here=$root/tests/installer
work=$(realpath -m "${TAVRIN_INSTALLER_TEST_DIR:-$root/build/installer-test}")
release=$(realpath -m "${TAVRIN_RELEASE_DIR:-$root/build/release}")
started=$(date +%s)

# CLSID, LIBID, IID, PROGID, CLASSES; pass, fail, skip, finish; Wine, registry, file and
# signature helpers
. "$here/checks.sh"
readonly UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\comTavrin'

# --- What to test -----------------------------------------------------------------------------
header=${TAVRIN_PACKAGE_TREES:-build}/win64/generated/common/version.h
mkdir -p "$work"
package_log=$work/package.log
cafile=${TAVRIN_TEST_CAFILE:-}
certificate=
cleanup() {
  drop_prefix
  [ -z "$certificate" ] || rm -rf "$certificate"
}
trap cleanup EXIT
if [ $# -eq 0 ]; then
  # In a temporary folder of its own, removed at the end.
  certificate=$(mktemp -d)
  if make_signing_certificate "$certificate"; then
    pass "a throwaway code-signing certificate (openssl)"
  else
    fail "a throwaway code-signing certificate (openssl)" "$(tail -n 3 "$certificate/openssl.log" | tr '\n' ' ')"
    finish "installer test"
  fi
  cafile=$certificate/ca.pem
  t0=$(date +%s)
  if TAVRIN_SIGN_PFX=$certificate/signer.pfx TAVRIN_SIGN_PASSWORD_FILE=$certificate/password \
     TAVRIN_SIGN_TIMESTAMP_URL='' bash scripts/package.sh >"$package_log" 2>&1; then
    pass "scripts/package.sh makes the release, signed ($(($(date +%s) - t0))s)"
  else
    tail -n 30 "$package_log"
    fail "scripts/package.sh makes the release, signed" "see $package_log"
    finish "installer test"
  fi
  check "scripts/package.sh says that it signed" "see $package_log" grep -qx 'package: done, signed' "$package_log"
  # A signature that cannot be made (here: a wrong password) stops the run before anything
  # is packed, and the release folder holds no package.
  printf 'not the password\n' >"$certificate/wrong-password"
  bad_release=$work/unsigned-release
  rm -rf "$bad_release"
  TAVRIN_RELEASE_DIR=$bad_release TAVRIN_SIGN_PFX=$certificate/signer.pfx \
    TAVRIN_SIGN_PASSWORD_FILE=$certificate/wrong-password TAVRIN_SIGN_TIMESTAMP_URL='' \
    bash scripts/package.sh >"$work/package-bad.log" 2>&1
  rc=$?
  shipped=$(find "$bad_release" -maxdepth 1 -type f \( -name '*.exe' -o -name '*.msi' -o -name '*.zip' -o -name '*.deb' \) 2>/dev/null)
  if [ "$rc" -ne 0 ] && [ -z "$shipped" ] && grep -q 'signing failed' "$work/package-bad.log"; then
    pass "a failed signature fails scripts/package.sh and ships nothing"
  else
    fail "a failed signature fails scripts/package.sh and ships nothing" "exit code $rc, made [${shipped//$'\n'/ }]"
  fi
  rm -rf "$bad_release"
fi
if [ -f "$header" ]; then
  version=$(sed -n 's/^#define TAVRIN_VERSION_TEXT "\(.*\)"$/\1/p' "$header")
else
  version=
fi
installer=${1:-$release/comTavrin-setup-$version.exe}
zipfile=${2:-$release/comTavrin-$version.zip}
msi=${3:-$release/comTavrin-$version-x64.msi}
check "the build's version is known ($header)" "no TAVRIN_VERSION_TEXT" test -n "$version"
[ -f "$installer" ] || { fail "installer exists" "$installer"; finish "installer test"; }
installer=$(realpath "$installer")
with_changelog=0
[ -f CHANGELOG.md ] && with_changelog=1

# signature_check LABEL FILE: signed by the release's certificate, when it is known
signature_check() {
  if [ -n "$cafile" ]; then check_signed "$1" "$2" "$cafile"
  else skip "$1 is signed" "no TAVRIN_TEST_CAFILE for files given as arguments"; fi
}

# --- Wine -------------------------------------------------------------------------------------
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# --- Steps shared by both prefixes --------------------------------------------------------------
run_installer() {  # run_installer NAME
  local t0; t0=$(date +%s)
  wine "$(windows_path "$installer")" /S
  local rc=$?
  wineserver_wait
  if [ "$rc" -eq 0 ]; then pass "$1 ($(($(date +%s) - t0))s)"; else fail "$1" "exit code $rc"; fi
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

# --- The packages' own signatures -----------------------------------------------------------------
echo "--- signatures"
signature_check "the setup program" "$installer"

# --- 64-bit Windows -----------------------------------------------------------------------------
nsis_on_64bit_windows() {
  echo "--- 64-bit prefix"
  t0=$(date +%s)
  if ! new_prefix win64 win64; then
    fail "fresh 64-bit prefix (wineboot -i)" "$WINEPREFIX"
    return
  fi
  pass "fresh 64-bit prefix ($(($(date +%s) - t0))s)"
  install_folders

  run_installer "silent install (/S) exits with 0"
  check_folder "64-bit folder: Program Files\\comTavrin" "$pf64" comTavrin.dll tavrin-check.exe uninstall.exe "${docs[@]}"
  check_folder "32-bit folder: Program Files (x86)\\comTavrin" "$pf32" comTavrin.dll tavrin-check.exe
  for file in comTavrin.dll tavrin-check.exe; do
    check_format "Program Files\\comTavrin\\$file" "$pf64/$file" pei-x86-64
    check_format "Program Files (x86)\\comTavrin\\$file" "$pf32/$file" pei-i386
    signature_check "Program Files\\comTavrin\\$file" "$pf64/$file"
    signature_check "Program Files (x86)\\comTavrin\\$file" "$pf32/$file"
  done
  signature_check "Program Files\\comTavrin\\uninstall.exe (written by the installer)" "$pf64/uninstall.exe"
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
}

# --- 32-bit Windows -----------------------------------------------------------------------------
nsis_on_32bit_windows() {
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
}

if runs_32bit; then
  nsis_on_64bit_windows
  nsis_on_32bit_windows
else
  skip "the setup program under Wine (a 32-bit program), 64-bit and 32-bit prefix" "$NO_32BIT"
fi

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
      signature_check "zip: x64/$file" "$unpacked/x64/$file"
      signature_check "zip: x86/$file" "$unpacked/x86/$file"
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

# --- The MSI ------------------------------------------------------------------------------------
# test-msi.sh (which checks the MSI's own signature too), with its lines here and its counts
# added to ours.
if [ ! -f "$msi" ]; then
  fail "MSI exists" "$msi"
else
  bash "$here/test-msi.sh" "$msi" "$cafile" | tee "$work/test-msi.log"
  counts=$(tail -n 1 "$work/test-msi.log")
  if [[ "$counts" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1])) failed=$((failed + BASH_REMATCH[2]))
    msi_skipped=$(sed -n 's/^\([0-9][0-9]*\) skipped$/\1/p' "$work/test-msi.log" | tail -n 1)
    skipped=$((skipped + ${msi_skipped:-0}))
  else
    fail "tests/installer/test-msi.sh ran to its end" "last line [$counts]"
  fi
fi

finish "installer test"
