#!/usr/bin/env bash
# Lists the C++ files that clang-format (with .clang-format) would change.
# Exit status 1 when there are any, unless AUDIOTAP_FORMAT_REPORT_ONLY=1,
# which only lists them.
set -euo pipefail
cd "$(dirname "$0")/.."
# The project's own sources; outside a git checkout, every one under the tree but build/.
sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard '*.cpp' '*.h'
  else
    find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -type f -print | sed 's|^\./||' | sort
  fi
}
differing=0
while IFS= read -r file; do
  if ! clang-format --style=file "$file" | cmp -s - "$file"; then
    echo "not formatted: $file"
    differing=$((differing + 1))
  fi
done < <(sources)
if [ "$differing" -eq 0 ]; then
  echo "format: every file matches .clang-format"
  exit 0
fi
echo "format: $differing file(s) differ; clang-format -i <file> formats one"
[ "${AUDIOTAP_FORMAT_REPORT_ONLY:-0}" = 1 ] && exit 0
exit 1
