#!/usr/bin/env bash
# Checks that every C++ file of the project is formatted with the repository's
# .clang-format; prints the name of each file that is not and exits 1. Lists the files
# git tracks (and the untracked ones it does not ignore); outside a git checkout, every
# C++ file below the source folders.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
else
  mapfile -t files < <(find src tests bench fuzz -name '*.cpp' -o -name '*.h' | sort)
fi
bad=()
for file in "${files[@]}"; do
  [ -f "$file" ] || continue
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then bad+=("$file"); fi
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "These files are not formatted with .clang-format (run clang-format -i on them):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files checked, all formatted"
