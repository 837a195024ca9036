#!/usr/bin/env bash
# The MSI package under Wine, as a deployment tool (Group Policy, Intune) uses it, in a fresh
# 64-bit prefix: a silent install (both folders, the files those of the release's stage and
# signed, the class registered in both registry views and created by the 64-bit and the 32-bit
# script host, tavrin-check runnable, one Apps and Features entry), a newer version built from
# the same stage installed over it (a major upgrade: one entry, the new version's files), the
# silent removal leaving nothing of ours in the registry or on disk, then the same DLLs
# registered by regsvr32 in the cleaned prefix: the keys and values must be exactly those the
# MSI wrote. And an administrative install, which must yield the files.
#   tests/installer/test-msi.sh MSI [CAFILE]
# MSI is scripts/package.sh's comTavrin-VERSION-x64.msi, with its stage/ folder beside it.
# With CAFILE every DLL and program is checked to be signed by a certificate chaining to it.
# On a machine whose kernel runs no 32-bit programs the 32-bit parts are reported as skipped.
# One line per check; the last line is "N passed, M failed"; exit code 0 only if none failed.
#   TAVRIN_KEEP_PREFIX=1        leave the Wine prefix for a look
#   TAVRIN_INSTALLER_TEST_DIR   the folder for the prefix and logs (default build/installer-test)
# shellcheck disable=SC2317  # the helpers are called through check
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
here=$root/tests/installer
work=$(realpath -m "${TAVRIN_INSTALLER_TEST_DIR:-$root/build/installer-test}")
started=$(date +%s)

# CLSID, LIBID, IID, PROGID, CLASSES; pass, fail, skip, finish; Wine, registry, file and
# signature helpers
. "$here/checks.sh"

[ $# -ge 1 ] || { echo "usage: test-msi.sh MSI [CAFILE]" >&2; exit 2; }
msi=$(realpath -m "$1")
cafile=${2:-}
stage=$(dirname "$msi")/stage
[ -f "$msi" ] || { fail "MSI exists" "$msi"; finish "MSI test"; }
if [ ! -d "$stage/x64" ] || [ ! -d "$stage/x86" ]; then
  fail "the release's stage beside the MSI" "$stage"
  finish "MSI test"
fi
mkdir -p "$work"

# --- The package's tables -------------------------------------------------------------------------
property() {  # property MSI NAME: a value of the Property table
  msiinfo export "$1" Property | tr -d '\r' | awk -F '\t' -v n="$2" '$1 == n { print $2; exit }'
}
version=$(property "$msi" ProductVersion)
product=$(property "$msi" ProductCode)
upgrade_code=$(property "$msi" UpgradeCode)
check "the MSI has a version, a product code and an upgrade code" "[$version] [$product] [$upgrade_code]" \
  test -n "$version" -a -n "$product" -a -n "$upgrade_code"
table_rows() { msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r' | tail -n +4 | grep -c .; }
no_self_registration() { [ "$(table_rows "$msi" CustomAction)" -eq 0 ] && [ "$(table_rows "$msi" SelfReg)" -eq 0 ]; }
check "no custom action and no self-registration in the MSI" "CustomAction or SelfReg has rows" no_self_registration
if [ -n "$cafile" ]; then check_signed "the MSI" "$msi" "$cafile"; else skip "the MSI is signed" "no CAFILE given"; fi

# signed_copy LABEL FILE STAGED: FILE is the stage's STAGED, and signed when CAFILE is given
signed_copy() {
  check "$1 is the release's $(basename "$(dirname "$3")")/$(basename "$3")" "differs" cmp -s "$2" "$3"
  if [ -n "$cafile" ]; then check_signed "$1" "$2" "$cafile"; else skip "$1 is signed" "no CAFILE given"; fi
}

# --- Wine -------------------------------------------------------------------------------------
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap drop_prefix EXIT

has32=0
runs_32bit && has32=1
readonly cscript32='C:\windows\syswow64\cscript.exe'

# msiexec NAME ARGS...: msiexec with those arguments and /qn, its log in $work/msiexec.log.
msiexec() {
  local name=$1 t0 rc; shift
  t0=$(date +%s)
  wine msiexec "$@" /qn /l*v "$(windows_path "$work/msiexec.log")"
  rc=$?
  wineserver_wait
  if [ "$rc" -eq 0 ]; then pass "$name ($(($(date +%s) - t0))s)"
  else fail "$name" "exit code $rc, see $work/msiexec.log"; fi
}

# The products that Apps and Features lists as comTavrin (either view), from the prefix's
# registry file (which doubles each backslash): their product codes, one a line.
our_entries() {
  wineserver_wait
  awk '/^\[/ { key = $0; sub(/^\[/, "", key); sub(/\].*$/, "", key); next }
    $0 == "\"DisplayName\"=\"comTavrin\"" && match(key, /\\\\Uninstall\\\\\{[0-9A-Fa-f-]+\}$/) {
      print substr(key, RSTART + 13)
    }' "$WINEPREFIX/system.reg" | sort
}

# Our keys in one view, every subkey and value, as reg.exe of that view lists them: a line per
# key and per value ("KEY" or "KEY|    NAME    TYPE    DATA"), sorted; "ABSENT KEY" for a
# missing key.
dump_view() {  # dump_view VIEW
  local key
  for key in "${our_keys[@]}"; do
    if reg_query "$1" "$key" /s; then
      awk '/^HKEY_/ { key = $0; print key; next } /^    / && key != "" { print key "|" $0 }' <<<"$out"
    else
      echo "ABSENT $key"
    fi
  done | sort
}
same_registration() {  # same_registration MSI_DUMP REGSVR32_DUMP
  detail=$(diff "$1" "$2" | head -n 6 | tr '\n' ' ' | head -c 400)
  [ -s "$1" ] && ! grep -q '^ABSENT' "$1" && grep -q 'InprocServer32|' "$1" && cmp -s "$1" "$2"
}

# packed_guid GUID: the form below HKLM\Software\Classes\Installer (each group reversed,
# the last two groups byte by byte).
packed_guid() {
  local hex=${1//[\{\}-]/} packed='' i
  packed=$(rev <<<"${hex:0:8}")$(rev <<<"${hex:8:4}")$(rev <<<"${hex:12:4}")
  for ((i = 16; i < 32; i += 2)); do packed+=${hex:i+1:1}${hex:i:1}; done
  printf '%s' "$packed"
}
# Anything of ours left in the prefix's registry files: the name, our identities, the product
# and upgrade codes as they are and packed.
traces_in_registry() {
  wineserver_wait
  local ids=comTavrin id
  for id in "$CLSID" "$LIBID" "$IID" "$product" "${product2:-}" "$upgrade_code"; do
    [ -n "$id" ] || continue
    ids+="|${id//[\{\}]/}|$(packed_guid "$id")"
  done
  grep -i -h -E "$ids" "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg" | head -n 3
}

echo "--- MSI: 64-bit prefix"
t0=$(date +%s)
if ! new_prefix msi win64; then
  fail "fresh 64-bit prefix (wineboot -i)" "$WINEPREFIX"
  finish "MSI test"
fi
pass "fresh 64-bit prefix ($(($(date +%s) - t0))s)"
install_folders
docs=(README.md)
[ -f "$stage/CHANGELOG.md" ] && docs+=(CHANGELOG.md)

# --- Install ----------------------------------------------------------------------------------
msiexec "msiexec /i (silent) exits with 0" /i "$(windows_path "$msi")"
check_folder "64-bit folder: Program Files\\comTavrin" "$pf64" comTavrin.dll tavrin-check.exe "${docs[@]}"
check_folder "32-bit folder: Program Files (x86)\\comTavrin" "$pf32" comTavrin.dll tavrin-check.exe
for file in comTavrin.dll tavrin-check.exe; do
  signed_copy "Program Files\\comTavrin\\$file" "$pf64/$file" "$stage/x64/$file"
  signed_copy "Program Files (x86)\\comTavrin\\$file" "$pf32/$file" "$stage/x86/$file"
done

check_value "64-bit view: InprocServer32 is the 64-bit DLL" 64 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir64\\comTavrin.dll"
check_value "64-bit view: type library win64 path" 64 "$CLASSES\\TypeLib\\$LIBID\\1.0\\0\\win64" "" "$dir64\\comTavrin.dll"
views=(64)
if [ "$has32" = 1 ]; then
  views+=(32)
  check_value "32-bit view: InprocServer32 is the 32-bit DLL" 32 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir32\\comTavrin.dll"
  check_value "32-bit view: type library win32 path" 32 "$CLASSES\\TypeLib\\$LIBID\\1.0\\0\\win32" "" "$dir32\\comTavrin.dll"
else
  skip "the 32-bit registry view (through the 32-bit reg.exe)" "$NO_32BIT"
fi
for view in "${views[@]}"; do
  for key in "${our_keys[@]}"; do
    check_key "installed: $key (view $view)" present "$view" "$key"
  done
  dump_view "$view" >"$work/msi-view$view.txt"
done

entry="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
check_value "Apps and Features: DisplayName" 64 "$entry" DisplayName comTavrin
check_value "Apps and Features: DisplayVersion is the MSI's $version" 64 "$entry" DisplayVersion "$version"
check_value "Apps and Features: Publisher" 64 "$entry" Publisher "comTavrin project"
check "Apps and Features: one comTavrin entry, this product" "[$(our_entries | tr '\n' ' ')]" \
  test "$(our_entries)" = "$product"

vbscript_check "64-bit cscript creates $PROGID and runs a check" cscript AMD64
help_check "64-bit tavrin-check.exe --help from the install folder" "$dir64\\tavrin-check.exe"
if [ "$has32" = 1 ]; then
  vbscript_check "32-bit cscript (SysWOW64) creates $PROGID and runs a check" "$cscript32" x86
  help_check "32-bit tavrin-check.exe --help from the install folder" "$dir32\\tavrin-check.exe"
else
  skip "32-bit cscript creates $PROGID; 32-bit tavrin-check.exe --help" "$NO_32BIT"
fi

# --- Major upgrade --------------------------------------------------------------------------------
# The next revision, built from the same stage with a README of its own: versions that differ
# only in their fourth field, which Windows Installer does not compare by itself.
echo "--- MSI: upgrade"
[[ "$version" =~ ^([0-9]+\.[0-9]+\.[0-9]+)\.([0-9]+)$ ]]
version2=${BASH_REMATCH[1]}.$((BASH_REMATCH[2] + 1))
stage2=$work/stage-$version2
rm -rf "$stage2"
cp -a "$stage" "$stage2"
echo "This is $version2, the upgrade test's build." >>"$stage2/README.md"
msi2=$work/comTavrin-$version2-x64.msi
product2=
if product2=$(bash installer/make-msi.sh "$stage2" "$version2" "$msi2" 2>"$work/make-msi.log" | tail -n 1) &&
   [ -f "$msi2" ]; then
  pass "installer/make-msi.sh builds $version2"
else
  fail "installer/make-msi.sh builds $version2" "see $work/make-msi.log"
fi
check "$version2 has a product code of its own" "[$product2] [$product]" test -n "$product2" -a "$product2" != "$product"
msiexec "msiexec /i of $version2 over $version exits with 0" /i "$(windows_path "$msi2")"
check "after the upgrade: one comTavrin entry, $version2's" "[$(our_entries | tr '\n' ' ')]" \
  test "$(our_entries)" = "$product2"
check_value "after the upgrade: DisplayVersion $version2" 64 \
  "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product2" DisplayVersion "$version2"
check "after the upgrade: README.md is $version2's" "differs" cmp -s "$stage2/README.md" "$pf64/README.md"
check_folder "after the upgrade: Program Files\\comTavrin" "$pf64" comTavrin.dll tavrin-check.exe "${docs[@]}"
check_folder "after the upgrade: Program Files (x86)\\comTavrin" "$pf32" comTavrin.dll tavrin-check.exe
check_value "after the upgrade: InprocServer32 is the 64-bit DLL" 64 "$CLASSES\\CLSID\\$CLSID\\InprocServer32" "" "$dir64\\comTavrin.dll"
vbscript_check "after the upgrade: 64-bit cscript creates $PROGID" cscript AMD64
if [ "$has32" = 1 ]; then
  vbscript_check "after the upgrade: 32-bit cscript creates $PROGID" "$cscript32" x86
fi

# --- Removal ------------------------------------------------------------------------------------
echo "--- MSI: removal"
msiexec "msiexec /x (silent) exits with 0" /x "$product2"
for view in "${views[@]}"; do
  for key in "${our_keys[@]}"; do
    check_key "after removal: no $key (view $view)" absent "$view" "$key"
  done
done
check "after removal: nothing of ours in the prefix's registry (any view)" "$(traces_in_registry | head -c 300)" \
  test -z "$(traces_in_registry)"
check "after removal: no Program Files\\comTavrin" "holds [$(listing "$pf64")]" test ! -e "$pf64"
check "after removal: no Program Files (x86)\\comTavrin" "holds [$(listing "$pf32")]" test ! -e "$pf32"
check "after removal: 64-bit CreateObject fails" "the class is still found" class_gone cscript
if [ "$has32" = 1 ]; then
  check "after removal: 32-bit CreateObject fails" "the class is still found" class_gone "$cscript32"
fi

# --- The same DLLs registered by regsvr32 ---------------------------------------------------------
# In the cleaned prefix, from the folders the MSI uses: DllRegisterServer's keys and values
# against the MSI's, view by view.
echo "--- MSI: against DllRegisterServer"
mkdir -p "$pf64" "$pf32"
cp "$stage/x64/comTavrin.dll" "$pf64/" && cp "$stage/x86/comTavrin.dll" "$pf32/"
regsvr32_check() {  # regsvr32_check NAME REGSVR32 DLL (a Windows path)
  if wine_capture "$2" /s "$3"; then pass "$1"; else fail "$1" "exit code $?: $(head -c 200 <<<"$out")"; fi
}
regsvr32_check "regsvr32 registers the signed 64-bit DLL" regsvr32 "$dir64\\comTavrin.dll"
if [ "$has32" = 1 ]; then
  regsvr32_check "SysWOW64's regsvr32 registers the signed 32-bit DLL" 'C:\windows\syswow64\regsvr32.exe' "$dir32\\comTavrin.dll"
fi
# Without the 32-bit DLL registered, the comparison leaves out what that DLL writes into the
# type library key, which both views share: its win32 path and the help folder (the last
# registration's).
shared_by_32bit='\\1\.0\\0\\win32(\||$)|\\1\.0\\HELPDIR(\||$)'
for view in "${views[@]}"; do
  dump_view "$view" >"$work/regsvr32-view$view.txt"
  label="view $view: the MSI's keys and values are DllRegisterServer's"
  if [ "$has32" = 0 ]; then
    label+=" (without the 32-bit DLL's type library entries)"
    for dump in msi regsvr32; do
      grep -v -E "$shared_by_32bit" "$work/$dump-view$view.txt" >"$work/$dump-view$view.cmp"
    done
  else
    cp "$work/msi-view$view.txt" "$work/msi-view$view.cmp"
    cp "$work/regsvr32-view$view.txt" "$work/regsvr32-view$view.cmp"
  fi
  detail=
  if same_registration "$work/msi-view$view.cmp" "$work/regsvr32-view$view.cmp"; then
    pass "$label ($(wc -l <"$work/msi-view$view.cmp") lines)"
  else
    fail "$label" "diff MSI regsvr32: $detail"
  fi
done
[ "$has32" = 1 ] || skip "the 32-bit view, and the shared type library entries, against SysWOW64's regsvr32" "$NO_32BIT"

# --- Administrative install ---------------------------------------------------------------------
# Wine 8's msiexec does not perform administrative installs (it says so, and copies nothing):
# then the files an administrative image holds are taken from the package's cabinet
# (msiextract) and the admin sequence is checked to install them.
echo "--- MSI: administrative install"
admin=$work/admin
rm -rf "$admin"
mkdir -p "$admin"
WINEDEBUG=-all,fixme+msiexec wine_capture msiexec /a "$(windows_path "$msi")" /qn TARGETDIR="$(windows_path "$admin")"
rc=$?
wineserver_wait
if [ -n "$(find "$admin" -type f)" ]; then
  check "msiexec /a TARGETDIR=... exits with 0" "exit code $rc" test "$rc" -eq 0
  admin_source="administrative install"
elif grep -q 'Administrative installs are not currently supported' <<<"$out"; then
  skip "msiexec /a TARGETDIR=..." "this Wine's msiexec does not perform administrative installs"
  admin_sequence() {
    local rows; rows=$(msiinfo export "$msi" AdminExecuteSequence | tr -d '\r' | cut -f 1)
    grep -qx InstallAdminPackage <<<"$rows" && grep -qx InstallFiles <<<"$rows"
  }
  check "the admin sequence installs the package and its files" "AdminExecuteSequence lacks them" admin_sequence
  if msiextract -C "$admin" "$msi" >/dev/null 2>&1; then pass "msiextract unpacks the cabinet"
  else fail "msiextract unpacks the cabinet" "$msi"; fi
  admin_source="the package's cabinet"
else
  fail "msiexec /a TARGETDIR=... yields files" "exit code $rc: $(head -c 200 <<<"$out")"
  admin_source=
fi
if [ -n "$admin_source" ]; then
  declare -A admin_format=()
  while IFS= read -r -d '' file; do
    admin_format[$file]=$(pe_format "$file")
  done < <(find "$admin" -type f \( -iname '*.dll' -o -iname '*.exe' \) -print0)
  found=
  for file in "${!admin_format[@]}"; do
    bits=x64
    [ "${admin_format[$file]}" = pei-i386 ] && bits=x86
    found+="$bits/$(basename "$file")"$'\n'
    signed_copy "$admin_source: ${file#"$admin"/}" "$file" "$stage/$bits/$(basename "$file")"
  done
  found=$(sort <<<"$found" | grep . | tr '\n' ' ')
  check "$admin_source: both bitnesses' DLL and program, once each" "found [$found]" \
    test "$found" = "x64/comTavrin.dll x64/tavrin-check.exe x86/comTavrin.dll x86/tavrin-check.exe "
fi
drop_prefix
[ "${TAVRIN_KEEP_PREFIX:-0}" = 1 ] || rm -rf "$admin" "$stage2" "$msi2"

finish "MSI test"
