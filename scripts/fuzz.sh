#!/usr/bin/env bash
# Builds the encoder fuzzer (tests/fuzz_encoder.cpp: clang, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) in build-fuzz/ and runs it
# for a bounded time on the machine's two cores, over a working copy of the
# seed corpus tests/fuzz_corpus/ (build-fuzz/corpus/, which keeps what
# earlier runs found). A failing input is saved in build-fuzz/artifacts/;
# `build-fuzz/tests/fuzz_encoder FILE` runs it again.
#
# Environment:
#   KOBRAT_FUZZ_SECONDS  how long to fuzz (default 60)
#   KOBRAT_FUZZ_JOBS     fuzzing processes at once (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${KOBRAT_FUZZ_SECONDS:-60}
jobs=${KOBRAT_FUZZ_JOBS:-2}
bash scripts/install-deps.sh --fuzz

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOBRAT_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_encoder -j"$(nproc)"

mkdir -p build-fuzz/corpus build-fuzz/artifacts
cp -n tests/fuzz_corpus/* build-fuzz/corpus/
# Each job first runs every input of the corpus, then mutates them, with
# inputs up to a little over two blocks of 65,536 bytes; the jobs share the
# corpus folder. Their logs are build-fuzz/fuzz-N.log, and all of them
# together build-fuzz/fuzzer.log, whose end is shown when a job fails.
cd build-fuzz
rm -f fuzz-*.log fuzzer.log
status=0
tests/fuzz_encoder -max_total_time="$seconds" -jobs="$jobs" -workers="$jobs" \
  -max_len=140000 -timeout=20 -print_final_stats=1 \
  -artifact_prefix=artifacts/ corpus/ >fuzzer.log 2>&1 || status=$?
for log in fuzz-*.log; do
  runs=$(grep -a -E '^stat::number_of_executed_units' "$log" | tr -s ' ' |
    cut -d ' ' -f 2)
  echo "$log: ${runs:-?} inputs run"
done
if [ "$status" -ne 0 ]; then
  tail -n 60 fuzzer.log >&2
  echo "fuzz.sh: the fuzzer failed; the input is in build-fuzz/artifacts/" >&2
  exit "$status"
fi
echo "fuzz.sh: no failure in $seconds s of $jobs jobs"
