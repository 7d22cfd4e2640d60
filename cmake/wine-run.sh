#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix, created on first
# use. Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
