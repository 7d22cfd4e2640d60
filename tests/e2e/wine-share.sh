#!/usr/bin/env bash
# A shared folder for the Windows suites under Wine: a FUSE mount (bindfs
# over a backing folder) given drive letter S: of type "network" in the
# suites' own Wine prefix, as a mapped network drive is on Windows.
#   wine-share.sh up|down PREFIX FOLDER
# FOLDER gets back/ (what the test writes, as another machine would) and
# mnt/ (the mount that S: names). The prefix's server is ended after each
# change, so that its mount manager reads the drive and its type anew.
set -u
action=$1 prefix=$2 folder=$3
export WINEPREFIX=$prefix WINEDEBUG=-all
key='HKLM\Software\Wine\Drives'

# Both ways, what an earlier run left goes first.
rm -f "$prefix/dosdevices/s:"
[ -f "$prefix/system.reg" ] && wine reg delete "$key" /v s: /f >/dev/null 2>&1
wineserver -k 2>/dev/null
if mountpoint -q "$folder/mnt"; then fusermount -u "$folder/mnt" || umount -l "$folder/mnt"; fi
rm -rf "$folder"
[ "$action" = down ] && exit 0
if [ ! -w /dev/fuse ] || ! command -v bindfs >/dev/null; then
  echo "no usable /dev/fuse or no bindfs: the shared-folder scenario will be skipped"
  exit 0
fi
mkdir -p "$folder/back" "$folder/mnt"
bindfs "$folder/back" "$folder/mnt" || exit 1
# Makes the prefix first if no suite has yet.
"$(dirname "$0")/../../cmake/wine-run.sh" "$prefix" reg add "$key" /v s: /d network /f >/dev/null || exit 1
ln -sfn "$folder/mnt" "$prefix/dosdevices/s:"
wineserver -k 2>/dev/null
exit 0
