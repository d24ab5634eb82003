#!/usr/bin/env bash
# Checks that the project's own C++ files are laid out as the committed .clang-format says.
# With --fix, reformats them in place instead. Exit status 1 names the files to reformat.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  if [[ "${VESKMATH_INSTALL:-}" == 1 ]]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format
  else
    echo "check-format.sh: clang-format is missing; install it: sudo apt-get install clang-format" >&2
    exit 2
  fi
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}" 2>/dev/null; then
  mapfile -t bad < <(clang-format --dry-run "${files[@]}" 2>&1 | grep -o '^[^:]*\.\(cpp\|h\):' | sort -u | tr -d ':')
  echo "check-format.sh: not formatted as .clang-format says (run scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
