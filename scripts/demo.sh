#!/usr/bin/env bash
# Builds the Linux program and runs it on the demo configuration: it watches
# demo/run/inbox and starts demo/handler.sh for every file added, changed or
# deleted there. Installs what is missing first. End it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target wendrake_program
cmake --install build/linux --prefix build/linux/install >/dev/null

run=$root/demo/run
mkdir -p "$run/inbox"
cat > "$run/WKCommand.txt" <<CMD
# Demo: every change in the inbox starts the handler, which prints it.
ACTION=AUD FOLDER="$run/inbox" EXECUTE=$root/demo/handler.sh CURRENT="$run" ARGUMENT=demo
CMD

echo "Start directory: $run"
echo "Drop files into $run/inbox (from another terminal);"
echo "the handler's lines appear below and in $run/handled.txt, among the lines of the log,"
echo "which is $run/Wendrake.log."
cd "$run"
status=0
"$root/build/linux/install/bin/wendrake" || status=$?
echo "--- $run/Wendrake.log (last lines)"
tail -n 20 Wendrake.log
exit $status
