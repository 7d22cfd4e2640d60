#!/usr/bin/env bash
# Runs a Windows program under Wine with a private prefix, created on first
# use. Usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -eu
prefix=$1
shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
# Wine takes the ANSI code page from the Unix locale, and its programs'
# children keep it: C.UTF-8 gives code page 1252, which lacks Japanese,
# and UTF-8 file names, whatever the machine's own locale is.
export LC_ALL=C.UTF-8
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
  fi
  # The prefix's server and its services outlive the program they were
  # started for. Started here, apart from our output, they do not hold the
  # pipe that ctest reads until they end, nor the lock taken here; a server
  # already running is kept.
  wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$prefix.lock"
exec wine "$@"
