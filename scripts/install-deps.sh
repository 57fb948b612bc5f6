#!/usr/bin/env bash
# Installs what building and testing need, where the machine lacks it.
set -euo pipefail
needed=(cmake g++ make pkg-config libgtest-dev libgmock-dev libreadline-dev)
[ "${1:-}" = "--bench" ] && needed+=(libbenchmark-dev time)
[ "${1:-}" = "--fuzz" ] && needed+=(clang libclang-rt-dev)
missing=()
for package in "${needed[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
