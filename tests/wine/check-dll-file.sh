#!/usr/bin/env bash
# The DLL as a file: it imports only Windows' own DLLs (the C++ runtime, winpthread, libssh
# and libgcrypt are linked in) and exports exactly the five entry points of comTavrin.def.
#   check-dll-file.sh OBJDUMP DLL
set -euo pipefail
objdump=$1 dll=$2
dump=$("$objdump" -p "$dll")

system='advapi32|bcrypt|crypt32|gdi32|iphlpapi|kernel32|msvcrt|ntdll|ole32|oleaut32|rpcrt4|secur32|shell32|shlwapi|user32|userenv|version|ws2_32|comctl32|comdlg32|uxtheme'
status=0
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
[ -n "$imports" ] || { echo "check-dll-file: no import table in $dll"; exit 1; }
for name in $imports; do
  if grep -qiEx "($system)\.dll" <<<"$name"; then
    echo "import: $name"
  else
    echo "check-dll-file: $name is not a DLL of Windows"
    status=1
  fi
done

# The export names: the lines "[ n] Name" of the name table.
exports=$(sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]\([A-Za-z_][A-Za-z0-9_@]*\)$/\1/p' <<<"$dump" | sort)
wanted=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer)
if [ "$exports" = "$wanted" ]; then
  echo "exports: $(tr '\n' ' ' <<<"$exports")"
else
  echo "check-dll-file: exports differ from comTavrin.def:"
  diff <(echo "$wanted") <(echo "$exports") || true
  status=1
fi
exit "$status"
