#!/usr/bin/env bash
# Static checks of the program's own sources (tests excluded): clang-tidy
# with the repository's .clang-tidy against the Linux build's compile
# database, and cppcheck. The -win32 files need the Windows headers and are
# checked by the MinGW build's warnings instead. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/linux/compile_commands.json ] || cmake --preset linux >/dev/null
mapfile -t files < <(git ls-files 'src/*.cc' | grep -v -e '_test' -e '-win32')
tidy=$(clang-tidy -p build/linux --quiet "${files[@]}" 2>&1 | grep -E 'warning:|error:' || true)
check=$(cppcheck --enable=warning,style,performance,portability --std=c++17 --quiet \
        --inline-suppr -D__linux__ -I src "${files[@]}" 2>&1 || true)
if [ -n "$tidy$check" ]; then
  printf '%s\n%s\n' "$tidy" "$check"
  exit 1
fi
echo "lint: clang-tidy and cppcheck clean on ${#files[@]} files"
