# Fetching and unpacking Debian source packages, for the scripts that build from them
# (build-libssh.sh, build-openssh.sh). Sourced; the caller defines fail() and, before it calls
# unpacked, the folder $sources.

# Runs a command with its output in a log file; on failure shows the end of the log.
logged() {
  local log=$1
  shift
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    fail "failed: $* (log: $log)"
  fi
}

# The Debian version (e.g. 0.12.2-1) apt would fetch for PACKAGE/SUITE, from the local lists.
debian_version() {
  apt-get source --print-uris "$1/$2" 2>/dev/null |
    sed -n "s/^'[^']*' $1_\([^ ]*\)\.dsc .*/\1/p" | head -n 1
}

# Fetches and unpacks PACKAGE/SUITE at VERSION into $sources/PACKAGE-VERSION (patches applied by
# dpkg-source from debian/patches); prints that folder.
unpacked() {
  local package=$1 suite=$2 version=$3
  local tree=$sources/$package-$version
  if [ ! -f "$tree/.tavrin-unpacked" ]; then
    local dl=$sources/download-$package
    rm -rf "$dl" "$tree"
    mkdir -p "$dl"
    # apt drops privileges to _apt for the download when it may write the folder.
    chown _apt "$dl" 2>/dev/null || true
    logged "$sources/fetch.log" bash -c "cd '$dl' && apt-get source --download-only '$package/$suite'"
    local dsc=$dl/${package}_${version}.dsc
    [ -f "$dsc" ] || fail "apt did not fetch $dsc"
    # apt verified the files against the signed Release file; dpkg-source need not check the
    # maintainer's signature again.
    logged "$sources/fetch.log" dpkg-source --no-check -x "$dsc" "$tree"
    rm -rf "$dl"
    touch "$tree/.tavrin-unpacked"
  fi
  echo "$tree"
}
