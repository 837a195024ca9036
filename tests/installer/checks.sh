# Sourced by the Wine tests of registration and installation (test-installer.sh,
# tests/wine/both-bitnesses.sh): the component's registry identities, and the PASS/FAIL lines
# with their counts. The caller sets $started (date +%s) before it calls finish.
# shellcheck disable=SC2034  # the identities are the callers'
readonly CLSID='{322638D6-66B5-47EF-A5A3-0C7C351EAC9B}'
readonly LIBID='{73276987-F23D-4A48-8A49-8BFEB7B2B442}'
readonly IID='{35EBB8F1-E6CE-4979-8421-D2E60058C7A7}'
readonly PROGID='comTavrin.TavrinCom'
readonly CLASSES='HKLM\Software\Classes'

passed=0 failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1${2:+: $2}"; }
# finish LABEL: the time taken and "N passed, M failed"; exits 0 only if none failed.
finish() {
  echo "$1: $(($(date +%s) - started))s"
  echo "$passed passed, $failed failed"
  if [ "$failed" -eq 0 ]; then exit 0; else exit 1; fi
}
