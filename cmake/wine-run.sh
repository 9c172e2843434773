#!/bin/sh
# Runs a cross-built Windows program under wine (the emulator of the i686 toolchain file).
#   wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
#   wine-run.sh [--prefix DIR] --boot
# DIR is the wine prefix used when WINEPREFIX is not set. The first call on a prefix without a
# running wine server starts one and boots the prefix with its output sent to /dev/null: wine's
# background services inherit the descriptors of the process that starts them, and ctest would
# wait for them to close the test's output pipes. --boot starts a server that stays until it is
# stopped (wineserver -k) and initialises the prefix, failing when that fails, and runs nothing
# (scripts/test-windows).
set -e
if [ "$1" = "--prefix" ]; then
  : "${WINEPREFIX:=$2}"
  shift 2
fi
if [ -n "${WINEPREFIX:-}" ]; then
  export WINEPREFIX
  mkdir -p "$WINEPREFIX"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs on a fresh prefix.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ "$1" = "--boot" ]; then
  wineserver -p >/dev/null 2>&1 </dev/null || true
  exec wineboot -i >/dev/null 2>&1 </dev/null
fi

# "wineserver -k0" sends no signal; it fails when no server runs for this prefix.
if ! wineserver -k0 >/dev/null 2>&1; then
  wineserver -p60 >/dev/null 2>&1 </dev/null || true
  wineboot >/dev/null 2>&1 </dev/null || true
fi
exec wine "$@"
