#!/usr/bin/env bash
# Installs what building and testing sigtrove needs on a fresh Debian machine, then
# builds the package into the project's virtual environment (.venv). Says on standard
# error what it installs; a run after that installs only what changed.
#   SIGTROVE_SANITIZE=1  build the extension with AddressSanitizer and UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "setup: $*" >&2; }

# libcurl reads records from web servers; nginx and openssl serve them to the tests on the loopback
# address; clang and its fuzzer runtime build the libFuzzer harnesses (scripts/fuzz.sh); chromium is
# the browser that the viewer's tests drive (through Playwright, which downloads no browser of its own).
debian_packages=(g++ cmake ninja-build pkg-config libgtest-dev libflac-dev libcurl4-openssl-dev nlohmann-json3-dev
                 python3-venv nginx openssl clang libclang-rt-dev chromium)
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
  say "creating the virtual environment .venv"
  "$python" -m venv .venv
fi

# pip runs only when what it would install changed; its stamps live in .venv, and go with it.
# $1: the stamp's name; the rest: what it stands for.
stamp_is_current() { [ "$(cat ".venv/$1.stamp" 2>/dev/null)" = "$(shift; printf '%s\n' "$@" | sha256sum)" ]; }
write_stamp() { local name=$1; shift; printf '%s\n' "$@" | sha256sum >".venv/$name.stamp"; }
# pip, without the warning it repeats for every package when the machine's pip configuration names
# package folders that do not exist; its other messages and its exit status pass through.
pip() { .venv/bin/python -m pip "$@" 2>&1 | { grep -v "is ignored: it is neither a file nor a directory" || true; }; }

# The build backend, and what the tests use beyond the package's own dependency (numpy):
# pandas and matplotlib, which the README's examples use, mypy (with pandas' stubs) for the
# type stubs, Dask with its distributed scheduler for sigtrove.dask (the dask extra),
# hypothesis for records made of arbitrary bytes, Playwright, which drives the system's chromium
# through the viewer's pages, the wfdb package as a second reader of the records and annotation
# files sigtrove writes (and the peer of its writing benchmarks), pyEDFlib and MNE as independent
# readers of EDF files (and the peers of the EDF benchmark); moto's S3 server, the object store that
# the s3:// tests start on the loopback address; and the pinned formatters and linter that
# scripts/lint.sh runs, so that every machine gives the same answer.
python_packages=("scikit-build-core>=0.9" "pytest>=7" numpy pandas pandas-stubs "matplotlib>=3.5" mypy
                 "dask[array,dataframe,distributed]>=2024.1" "hypothesis>=6" "playwright>=1.40" wfdb
                 pyedflib mne "moto[server]>=5"
                 clang-format==21.1.8 ruff==0.17.6)
if ! stamp_is_current tools "${python_packages[@]}"; then
  say "installing pip and Python packages into .venv: ${python_packages[*]}"
  pip install -q --upgrade pip
  pip install -q "${python_packages[@]}"
  write_stamp tools "${python_packages[@]}"
fi

if [ "${SIGTROVE_SANITIZE:-0}" = 1 ]; then
  build_options=(-Ccmake.define.SIGTROVE_SANITIZE=ON -Cbuild-dir=build/wheel-asan -Ccmake.build-type=Debug)
else
  build_options=(-Cbuild-dir=build/wheel)
fi
# What the package is built from: the build's options and every source file's contents.
source_paths=()
for path in CMakeLists.txt pyproject.toml README.md LICENSE src python; do
  if [ -e "$path" ]; then source_paths+=("$path"); fi
done
sources=$(find "${source_paths[@]}" -type f ! -name '*.pyc' -print0 | sort -z | xargs -0 sha256sum)
if ! stamp_is_current package "${build_options[*]}" "$sources"; then
  say "building sigtrove and installing it into .venv (${build_options[*]})"
  pip install -q --no-build-isolation "${build_options[@]}" .
  write_stamp package "${build_options[*]}" "$sources"
else
  say "sigtrove in .venv is up to date"
fi
