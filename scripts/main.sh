#!/usr/bin/env bash
# Sets up what is missing, builds sigtrove, and runs its main job: describing a record
# (the bundled sample record unless one is named).
#   scripts/main.sh [RECORD]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec .venv/bin/sigtrove describe "$@"
