#!/usr/bin/env bash
# Builds everything and runs every test. The Windows build comes first, so
# that the tests also run cli_test against it under wine; where its tools
# cannot be installed, only the Linux tests run.
set -euo pipefail
cd "$(dirname "$0")/.."
windows=0
bash scripts/build-windows.sh || windows=$?
if [ "$windows" -eq 2 ]; then
  echo "note: MinGW-w64 or wine could not be installed; the Windows build" \
    "and its tests are skipped."
elif [ "$windows" -ne 0 ]; then
  exit "$windows"
fi
bash scripts/build.sh
cd build
ctest --output-on-failure -j2 --timeout 300
# Then the whole suite again under AddressSanitizer and UndefinedBehavior-
# Sanitizer, and the encoder fuzzer for a bounded time (60 s).
cd ..
bash scripts/sanitize.sh
bash scripts/fuzz.sh
