#!/usr/bin/env bash
# Installs what building and testing need, where the machine lacks it.
#   --bench    also what the benchmarks need
#   --fuzz     also clang and its fuzzing runtime
#   --windows  also the MinGW-w64 cross compiler and wine
# Exits non-zero when a missing package cannot be installed.
set -euo pipefail
needed=(cmake g++ make pkg-config libgtest-dev libgmock-dev libreadline-dev)
for option in "$@"; do
  case $option in
  --bench) needed+=(libbenchmark-dev time) ;;
  --fuzz) needed+=(clang libclang-rt-dev) ;;
  --windows) needed+=(g++-mingw-w64-x86-64 wine wine64) ;;
  *) echo "install-deps.sh: unknown option $option" >&2 && exit 2 ;;
  esac
done
missing=()
for package in "${needed[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" \
    >/dev/null
fi
