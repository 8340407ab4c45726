#!/usr/bin/env bash
# Checks that the sources are clang-format'ed and that every text file keeps
# the .editorconfig rules: LF line ends, a final newline, no trailing blanks.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"
cd "$top"

"$here/install_deps.sh" clang-format
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

status=0
while IFS= read -r -d '' file; do
  grep -Iq . "$file" || continue  # binary or empty
  if grep -q $'\r' "$file"; then echo "$file: CR in line ends"; status=1; fi
  if grep -qE '[[:blank:]]+$' "$file"; then echo "$file: trailing blanks"; status=1; fi
  if [ -n "$(tail -c 1 "$file")" ]; then echo "$file: no final newline"; status=1; fi
done < <(git ls-files -z -- . ':!fuzz/corpus')
exit "$status"
