#!/usr/bin/env bash
# Makes the Windows zip as `--target package` does, into a folder of its
# own, and checks what a user unpacks from it: the program and its three
# text files side by side, nothing else, and every text file with CR LF
# line ends only, which every Notepad shows as lines.
# Usage: windows-zip.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.txt" 2>&1; then
  cat "$out/cpack.txt"
  exit 1
fi
zip=$out/Wendrake-$version-win64.zip
failed=0
names=$(unzip -Z1 "$zip" | LC_ALL=C sort)
expected=$'LICENSE.txt\nREADME.txt\nWKCommand.txt\nWendrake.exe'
if [ "$names" != "$expected" ]; then
  printf 'the zip holds:\n%s\nnot:\n%s\n' "$names" "$expected"
  failed=1
fi
while IFS= read -r name; do
  [[ $name != *.exe ]] || continue
  # The "." keeps a last line end, which $( ) would drop.
  text=$(unzip -p "$zip" "$name"; echo .)
  without=${text//$'\r\n'/}
  if [[ $text != *$'\r\n'* || $without == *[$'\r\n']* ]]; then
    echo "$name: a line end other than CR LF"
    failed=1
  fi
done <<<"$names"
[ $failed -eq 0 ] && echo "$(basename "$zip"): ${names//$'\n'/ }"
exit $failed
