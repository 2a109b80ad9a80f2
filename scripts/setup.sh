#!/usr/bin/env bash
# Installs what building and testing sigtrove needs on a fresh Debian machine, then
# builds the package into the project's virtual environment (.venv).
#   SIGTROVE_SANITIZE=1  build the extension with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(g++ cmake ninja-build pkg-config libgtest-dev libflac-dev nlohmann-json3-dev python3-venv)
missing=()
for p in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing Debian packages: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" = 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  "$python" -m venv .venv
fi
.venv/bin/python -m pip install -q --upgrade pip
# The build backend, and what the tests use beyond the package's own dependency (numpy):
# pandas and matplotlib, which the README's examples use, mypy (with pandas' stubs) for the
# type stubs, and Dask with its distributed scheduler for sigtrove.dask (the dask extra).
.venv/bin/python -m pip install -q "scikit-build-core>=0.9" "pytest>=7" numpy pandas pandas-stubs matplotlib mypy \
  "dask[array,dataframe,distributed]>=2024.1"

if [ "${SIGTROVE_SANITIZE:-0}" = 1 ]; then
  build_options=(-Ccmake.define.SIGTROVE_SANITIZE=ON -Cbuild-dir=build/wheel-asan -Ccmake.build-type=Debug)
else
  build_options=(-Cbuild-dir=build/wheel)
fi
.venv/bin/python -m pip install -q --no-build-isolation "${build_options[@]}" .
