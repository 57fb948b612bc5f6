#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (g++, -O1 -g) in build-asan/ and runs the whole suite there: the tests
# run the sanitized kobrat and kobrat-check built beside them. The cases
# that run the Windows build under wine are left out: no sanitized code
# runs in them.
#
# A sanitizer report ends the program with status 99 (status 1 is kobrat's
# success), so every report fails the test that ran it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined"
flags+=" -fno-sanitize-recover=all"
cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Asan \
  -DCMAKE_CXX_FLAGS_ASAN="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS_ASAN="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j"$(nproc)"

# The binary under test is the one built here, run directly.
unset KOBRAT_UNDER_TEST KOBRAT_RUNNER
export ASAN_OPTIONS="exitcode=99:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="exitcode=99:halt_on_error=1:print_stacktrace=1"
cd build-asan
ctest --output-on-failure -j2 --timeout 600 -LE windows
