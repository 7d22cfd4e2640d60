#!/usr/bin/env bash
# Passing names of write-then-rename tools: how often each program given
# starts its handler for a name that is gone by the time the handler runs.
#   bash bench/temp_names.sh [--rounds N] PROGRAM...
# The programs watch one folder side by side (ACTION=AUD), each from a
# start directory of its own, while N rounds (default 20) of each tool run
# there: rsync of ten 5 MB files into it (removed again after the round),
# ten `sed -i` edits of one file, a vim save of a file (swap file on). The
# handler notes whether the file it is given is there when it runs.
# Prints per program and tool the starts with -A or -U for a name that was
# gone, and all starts. Scratch folders go under $TMPDIR (default /tmp).
set -euo pipefail
rounds=20
if [ "${1:-}" = --rounds ]; then
  rounds=$2
  shift 2
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/temp_names.XXXXXX")
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$scratch"' EXIT
handler=$scratch/handler
cc -O2 -x c -o "$handler" - <<'C'
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>
int main(int argc, char** argv) {
  if (argc < 4) return 1;
  char line[4352];
  int n = snprintf(line, sizeof line, "%s %s %s\n", argv[2],
                   access(argv[1], F_OK) == 0 ? "there" : "gone", argv[1]);
  int fd = open(argv[3], O_WRONLY | O_APPEND | O_CREAT, 0644);
  return fd < 0 || n <= 0 || n >= (int)sizeof line || write(fd, line, n) != n;
}
C
in=$scratch/in
mkdir -p "$in" "$scratch/src" "$scratch/home"
for i in $(seq 10); do head -c 5M /dev/urandom >"$scratch/src/f$i.bin"; done
seq 100 >"$in/edited.txt"
seq 100 >"$in/vimmed.txt"

n=0
for program in "$@"; do
  n=$((n + 1))
  dir=$scratch/p$n
  mkdir -p "$dir"
  echo "ACTION=AUD FOLDER=\"$in\" EXECUTE=$handler CURRENT=\"$dir\" ARGUMENT=$dir/starts.txt" \
    >"$dir/WKCommand.txt"
  (cd "$dir" && exec "$(realpath "$program")" >/dev/null 2>&1) &
  pids+=($!)
  until grep -q '(01)...-Wait(' "$dir/Wendrake.log" 2>/dev/null; do sleep 0.05; done
done

quiet() { sleep 1.5; }
mark() {  # notes in each starts file which tool's starts follow
  for d in "$scratch"/p*; do echo "tool $1" >>"$d/starts.txt"; done
}
mark rsync
for r in $(seq "$rounds"); do
  rsync -a "$scratch/src/" "$in/"
  quiet
  rm -f "$in"/f*.bin
  quiet
done
mark sed
for r in $(seq "$rounds"); do
  for i in $(seq 10); do
    sed -i "s/\$/$i/" "$in/edited.txt"
    sleep 0.1
  done
  quiet
done
mark vim
for r in $(seq "$rounds"); do
  HOME=$scratch/home vim -N -c "normal Ax$r" -c wq "$in/vimmed.txt" </dev/null >/dev/null 2>&1
  quiet
done
mark end
sleep 2

echo "| program | tool | starts for a name gone (-A/-U) | all starts |"
echo "|---|---|---:|---:|"
n=0
for program in "$@"; do
  n=$((n + 1))
  awk -v p="$program" '
    $1 == "tool" { tool = $2; next }
    { all[tool]++; if ($2 == "gone" && ($1 == "-A" || $1 == "-U")) gone[tool]++ }
    END { for (t in all) printf "| %s | %s | %d | %d |\n", p, t, gone[t], all[t] }' \
    "$scratch/p$n/starts.txt" | sort
done
