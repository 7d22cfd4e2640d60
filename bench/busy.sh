#!/usr/bin/env bash
# What a busy folder costs the program: the sqlite3 journal case and churn
# over two full folders, for each program given, one after another.
#   bash bench/busy.sh [--seconds N] PROGRAM...
# sqlite: ~245 transactions over 5 s by one sqlite3 process into app.db in
#   an empty watched folder (ACTION=A): log bytes, scans (the log's wait
#   lines), starts of app.db-journal, starts of app.db once sqlite3 ended.
# churn: 200 operations a second for N s (default 60) over two folders of
#   2,400 files (ACTION=AUD): a third make a new file, a third append to an
#   original (-A: its size changes), a third delete one. CPU of the program (utime + stime of
#   /proc/PID/stat) over the churn, scans, whether every file's last start
#   carries the flag its last operation calls for, and the latency from the
#   close of each new file to its start (median, p90; the recorder is a
#   small static program stamping the wall clock, its own start included).
# Scratch folders go under $TMPDIR (default /tmp).
set -euo pipefail
seconds=60
if [ "${1:-}" = --seconds ]; then
  seconds=$2
  shift 2
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/busy.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
recorder=$scratch/recorder
# The started program: "<wall clock s> <flag> <path>" appended with one
# write, as start_recorder does with its monotonic clock and no flag.
cc -O2 -static -x c -o "$recorder" - <<'C'
#include <fcntl.h>
#include <stdio.h>
#include <sys/time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  struct timeval now;
  gettimeofday(&now, 0);
  char line[4352];
  int n = snprintf(line, sizeof line, "%ld.%06ld %s %s\n", (long)now.tv_sec, (long)now.tv_usec,
                   argc > 2 ? argv[2] : "", argv[1]);
  int fd = open(argv[argc - 1], O_WRONLY | O_APPEND | O_CREAT, 0644);
  return fd < 0 || n <= 0 || n >= (int)sizeof line || write(fd, line, n) != n;
}
C

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
scans() { grep -c -- '-Wait(' "$1/Wendrake.log" || true; }

# start PROGRAM DIR ACTION FOLDER...: the program in DIR/start, ready.
start() {
  local program dir=$2 action=$3
  program=$(realpath "$1")
  shift 3
  mkdir -p "$dir/start"
  : >"$dir/starts.txt"
  for folder in "$@"; do
    echo "ACTION=$action FOLDER=\"$folder\" EXECUTE=$recorder CURRENT=\"$dir/start\"" \
      "ARGUMENT=$dir/starts.txt"
  done >"$dir/start/WKCommand.txt"
  (cd "$dir/start" && exec "$program" >output.txt 2>&1) &
  pid=$!
  for _ in $(seq 200); do
    grep -q "(0$#)...-Wait(" "$dir/start/Wendrake.log" 2>/dev/null && break
    sleep 0.05
  done
}

settle() {  # until the starts stay put for 2 s
  local last=-1 now
  while now=$(wc -l <"$1/starts.txt") && [ "$now" != "$last" ]; do
    last=$now
    sleep 2
  done
}

echo "| program | log bytes | scans | scans/s | app.db-journal starts | app.db starts after the end |"
echo "|---|---:|---:|---:|---:|---:|"
for program in "$@"; do
  dir=$scratch/sqlite
  rm -rf "$dir"
  mkdir -p "$dir/in"
  start "$program" "$dir" A "$dir/in"
  log0=$(stat -c %s "$dir/start/Wendrake.log")
  scans0=$(scans "$dir/start")
  began=$(date +%s.%N)
  for i in $(seq 245); do
    [ "$i" = 1 ] && echo "CREATE TABLE t(v);"
    echo "BEGIN; INSERT INTO t VALUES($i); COMMIT;"
    sleep 0.0195
  done | sqlite3 "$dir/in/app.db"
  ended=$(date +%s.%N)
  settle "$dir"
  kill "$pid"
  wait "$pid" || true
  log=$(($(stat -c %s "$dir/start/Wendrake.log") - log0))
  n=$(($(scans "$dir/start") - scans0))
  journal=$(grep -c 'app.db-journal$' "$dir/starts.txt" || true)
  db=$(grep -c ' -A .*/app.db$' "$dir/starts.txt" || true)
  echo "| $program | $log | $n | $(echo "$n / ($ended - $began)" | bc -l | xargs printf %.1f) |" \
    "$journal | $db |"
done

echo
echo "| program | churn | CPU cores | scans/s | files checked | wrong last flag | latency median ms | p90 ms |"
echo "|---|---|---:|---:|---:|---:|---:|---:|"
for program in "$@"; do
  dir=$scratch/churn
  rm -rf "$dir"
  mkdir -p "$dir/a" "$dir/b"
  for f in a b; do
    (cd "$dir/$f" && for i in $(seq 2400); do echo "$i" >"orig-$i.dat"; done)
  done
  start "$program" "$dir" AUD "$dir/a" "$dir/b"
  ticks0=$(cpu_ticks "$pid")
  scans0=$(scans "$dir/start")
  python3 - "$dir" "$seconds" <<'PY'
import os, random, sys, time
root, seconds = sys.argv[1], float(sys.argv[2])
random.seed(1)
present = [(f, f"orig-{i}.dat") for f in "ab" for i in range(1, 2401)]
expect, made, n = {}, [], 0
begin = time.monotonic()
while time.monotonic() - begin < seconds:
    due = begin + n / 200.0
    wait = due - time.monotonic()
    if wait > 0:
        time.sleep(wait)
    kind = n % 3
    if kind == 0:
        f = "ab"[n % 2]
        path = f"{root}/{f}/new-{n}.dat"
        with open(path, "w") as out:
            out.write("new")
        made.append(f"{time.time():.6f} {path}")
        expect[path] = "-A"
    else:
        k = random.randrange(len(present))
        f, name = present[k]
        path = f"{root}/{f}/{name}"
        if kind == 1:
            with open(path, "a") as out:
                out.write("more" * random.randint(1, 9))
            expect[path] = "-A"  # its size changed
        else:
            os.unlink(path)
            present[k] = present[-1]
            present.pop()
            expect[path] = "-D"
    n += 1
with open(f"{root}/expect.txt", "w") as out:
    out.write("".join(f"{p} {flag}\n" for p, flag in expect.items()))
with open(f"{root}/made.txt", "w") as out:
    out.write("\n".join(made) + "\n")
PY
  ticks=$(($(cpu_ticks "$pid") - ticks0))
  n=$(($(scans "$dir/start") - scans0))
  settle "$dir"
  kill "$pid"
  wait "$pid" || true
  python3 - "$dir" "$program" "$seconds" "$ticks" "$(getconf CLK_TCK)" "$n" <<'PY'
import sys
root, name, seconds, ticks, hz, scans = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
last, first = {}, {}
for line in open(f"{root}/starts.txt"):
    at, flag, path = line.rstrip("\n").split(" ", 2)
    last[path] = flag
    first.setdefault((path, flag), float(at))
expect = dict(line.split() for line in open(f"{root}/expect.txt"))
wrong = sum(1 for p, flag in expect.items() if last.get(p) != flag)
lat = []
for line in open(f"{root}/made.txt"):
    if line.strip():
        at, path = line.split()
        if (path, "-A") in first:
            lat.append((first[(path, "-A")] - float(at)) * 1000)
lat.sort()
pct = lambda p: lat[int(p * (len(lat) - 1) + 0.5)] if lat else float("nan")
print(f"| {name} | 200/s, {seconds:.0f} s | {ticks / hz / seconds:.3f} | {scans / seconds:.1f} | "
      f"{len(expect)} | {wrong} | {pct(0.5):.1f} | {pct(0.9):.1f} |")
PY
done
