#!/bin/bash
# Runs a Windows program under Wine in a Wine prefix of the build tree and exits with the
# program's exit code.
#
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
#
# PREFIX is created with wineboot on first use and reused afterwards; a lock keeps concurrent
# runs from booting it twice. The user's ~/.wine is never touched.
set -euo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 PREFIX PROGRAM [ARGUMENTS...]" >&2
  exit 2
fi

prefix=$1
shift

readonly wine=/usr/lib/wine/wine64
readonly wineserver=/usr/lib/wine/wineserver64
readonly ready_mark=.vuro-prefix-ready

export WINEPREFIX
WINEPREFIX=$(realpath -m "$prefix")
export WINEDEBUG=-all
# A crashing program ends at once with its exception code as exit status, instead of under Wine's
# debugger, which is slow, floods the output and can report a crashed program as a success.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winedbg.exe=d"

# Boots a fresh prefix. Mono and Gecko are left out: nothing here needs them, and without a
# display their installers would only cost time.
boot_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot -i >"$WINEPREFIX.boot.log" 2>&1; then
    echo "wine-run.sh: wineboot failed for $WINEPREFIX; see $WINEPREFIX.boot.log" >&2
    return 1
  fi
  "$wineserver" -w
  touch "$WINEPREFIX/$ready_mark"
}

if [[ ! -e $WINEPREFIX/$ready_mark ]]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -e $WINEPREFIX/$ready_mark ]]; then
    boot_prefix
  fi
  flock -u 9
  exec 9>&-
fi

exec "$wine" "$@"
