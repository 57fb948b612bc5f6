#!/usr/bin/env bash
# Builds kobrat and its tests in build/ (Release, -Wall -Wextra).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
