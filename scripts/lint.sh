#!/usr/bin/env bash
# Checks the sources' form with the pinned tools that scripts/setup.sh installs into .venv:
# every C++ file as .clang-format lays it out, and the Python code as ruff formats and lints it
# (pyproject.toml). Prints what differs and exits 1 when anything does.
#   scripts/lint.sh --fix   rewrites the files instead
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
[ "${1:-}" = "--fix" ] && fix=1
mapfile -t cxx < <(git ls-files '*.cpp' '*.h')
python_dirs=(python tests bench scripts)
status=0
if [ "$fix" = 1 ]; then
  .venv/bin/clang-format -i "${cxx[@]}"
  .venv/bin/ruff format -q "${python_dirs[@]}"
  .venv/bin/ruff check -q --fix "${python_dirs[@]}" || status=1
  exit $status
fi
report=$(mktemp)
if ! .venv/bin/clang-format --dry-run -Werror "${cxx[@]}" 2>"$report"; then
  grep -E '^[^ ].*: error:' "$report" | sed -E 's/:[0-9]+:[0-9]+: error: .*$//' | sort -u |
    sed 's/$/: not laid out as .clang-format says/'
  echo "lint: scripts/lint.sh --fix lays the C++ files out"
  status=1
fi
rm -f "$report"
.venv/bin/ruff format -q --check "${python_dirs[@]}" || status=1
.venv/bin/ruff check -q --output-format concise "${python_dirs[@]}" || status=1
exit $status
