#!/usr/bin/env bash
# Builds the Windows kobrat.exe in build-win/ with MinGW-w64, installing the
# cross compiler and wine (which runs the exe for the tests) where the
# machine lacks them.
# Exit status: 0 built; 2 the tools are missing and could not be installed
# (no network, say); anything else a failed build.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! bash scripts/install-deps.sh --windows; then
  echo "could not install the cross compiler or wine" >&2
  rm -f build-win/kobrat.exe # an old one is not to be tested as current
  exit 2
fi

cmake -S . -B build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j"$(nproc)"
