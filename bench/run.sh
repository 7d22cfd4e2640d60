#!/usr/bin/env bash
# Runs every benchmark of the program and prints the figures as Markdown
# tables: latency against the floor and the usual tools, the cost of a
# scan against its floor, exactly-once starts, the cost of a file held open
# and written, the idle cost and the peak memory.
#   bash bench/run.sh [--wine] [TRIALS]
# Builds what it needs with the linux preset (RelWithDebInfo) first; with
# --wine also Wendrake.exe (windows preset), whose latency under Wine is
# added for information. TRIALS (default 300) is the number of latency
# trials per tool. Scratch folders go under $TMPDIR (default /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."

wine=0
trials=300
for arg in "$@"; do
  case $arg in
    --wine) wine=1 ;;
    *) trials=$arg ;;
  esac
done

cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target wendrake_program scan_bench watch_bench start_recorder \
  >/dev/null
if [ $wine -eq 1 ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j2 --target wendrake_program >/dev/null
fi
bin=build/linux/bench

scratch=${TMPDIR:-/tmp}
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores;" \
  "scratch under $scratch ($(findmnt -n -o FSTYPE -T "$scratch" | head -1))"
echo
echo "### Latency, file closed to program started (folder of 30 files, $trials trials each)"
echo
$bin/watch_bench latency "$trials"
if [ $wine -eq 1 ]; then
  echo
  echo "### Latency of Wendrake.exe under Wine (information only)"
  echo
  $bin/watch_bench wine "$trials"
fi

# One scan of unchanged files against its floor, as a Markdown table.
scan_table() {
  TMPDIR=$1 $bin/scan_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true --benchmark_format=csv 2>/dev/null |
  awk -F, '
    /_median"/ {
      split($1, part, "[/_\"]"); kind = part[2]; files = part[3]
      time[kind, files] = $3; cpu[kind, files] = $4; unit = $5
    }
    END {
      print "| files | scan | floor | scan / floor |"
      print "|---:|---:|---:|---:|"
      n = split("30 300 3000", sizes, " ")
      for (i = 1; i <= n; i++) {
        f = sizes[i]; s = time["ScanFolderBench", f]; b = time["ScanFloorBench", f]
        printf "| %s | %.0f %s | %.0f %s | %.2f |\n", f, s, unit, b, unit, s / b
      }
      # A shared folder is looked at every 2 s: 1800 wakes an hour.
      w = cpu["TimedWakeBench", 3000]; l = cpu["BareListingBench", 3000]
      print ""
      print "| 3000 files, CPU | timed wake, nothing changed | bare listing with stat | wake / listing |"
      print "|---|---:|---:|---:|"
      printf "| per wake | %.0f %s | %.0f %s | %.2f |\n", w, unit, l, unit, w / l
      printf "| per hour (1800 wakes) | %.1f s | %.1f s | |\n", w * 1800 / 1e6, l * 1800 / 1e6
    }'
}
for where in "$scratch" /dev/shm; do
  echo
  echo "### One scan of unchanged files under $where ($(findmnt -n -o FSTYPE -T "$where" | head -1)," \
    "median of 5 interleaved repetitions)"
  echo
  scan_table "$where"
done

echo
echo "### Exactly once"
echo
echo "| case | starts | scans |"
echo "|---|---|---:|"
$bin/watch_bench once
echo
echo "### A file held open and written 50 times a second for 5 s"
echo
echo "| folder | log | CPU | scans | the held file | another file written meanwhile, started after |"
echo "|---|---:|---:|---:|---|---:|"
$bin/watch_bench held
echo
echo "### Idle and memory"
echo
echo "| case | CPU or memory | other |"
echo "|---|---|---|"
$bin/watch_bench idle
$bin/watch_bench memory
echo
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
