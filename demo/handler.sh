#!/bin/sh
# The demo's handler: Wendrake starts it once per change with the file's
# full path, the change flag (-A, -D or -U) and the fixed argument.
printf '%s handler: file=%s change=%s argument=%s cwd=%s\n' \
  "$(date '+%H:%M:%S')" "$1" "$2" "${3:-}" "$(pwd)" | tee -a handled.txt
