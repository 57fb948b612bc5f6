#!/usr/bin/env bash
# Times the whole kobrat process against plain copies of the same file:
# `dd bs=64K` (the same block size kobrat reads) and `cat` (faster still: it
# copies in larger blocks), and against write_floor, which makes kobrat's
# own reads and writes with no conversion between them: no converter that
# writes kobrat's blocks (whole records, cut where the buffer passes 63,488
# bytes) through the same system calls can take less than it.
#
# Builds kobrat in Release in a build folder of its own, makes test files
# in a temp folder, then runs the three commands on each file in turn,
# round after round, with the input in the page cache and the output in the
# same temp folder. Prints the median seconds of each, the medians of the
# per-round ratios kobrat/dd, kobrat/cat, floor/dd and kobrat/floor, and
# kobrat's peak resident memory; then the companion kobrat-check over the
# records kobrat made.
#
# The inputs, printable ASCII from a fixed seed:
#   text40_lf    40-byte lines: 39 characters and LF
#   text40_crlf  40-byte lines: 38 characters and CR LF
#   digits8      8-byte lines: a number of seven digits and LF
#   long         lines of 1,000 to 6,000 characters and LF
#
# Environment:
#   KOBRAT_BENCH_MB      size of each test file in MB (default 100)
#   KOBRAT_BENCH_ROUNDS  timed runs of each command on each file (default 11)
#   KOBRAT_BENCH_BUILD   the build folder (default build-bench in the repo)
#   KOBRAT_BENCH_INPUTS  which inputs, separated by spaces (default all of
#                        text40_lf text40_crlf digits8 long)
#   TMPDIR               where the temp folder is made (default /tmp)
#
# A quick run: KOBRAT_BENCH_MB=10 KOBRAT_BENCH_ROUNDS=3 bench/compare.sh
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
mb=${KOBRAT_BENCH_MB:-100}
rounds=${KOBRAT_BENCH_ROUNDS:-11}
build=${KOBRAT_BENCH_BUILD:-$root/build-bench}
inputs=${KOBRAT_BENCH_INPUTS:-text40_lf text40_crlf digits8 long}

die() {
  echo "compare.sh: $*" >&2
  exit 2
}

[[ $mb =~ ^[1-9][0-9]*$ ]] || die "KOBRAT_BENCH_MB must be a whole number"
[[ $rounds =~ ^[1-9][0-9]*$ ]] ||
  die "KOBRAT_BENCH_ROUNDS must be a whole number"
for input in $inputs; do
  case $input in
  text40_lf | text40_crlf | digits8 | long) ;;
  *) die "unknown input '$input'" ;;
  esac
done
for tool in cmake python3 dd cat awk sort; do
  command -v "$tool" >/dev/null || die "$tool is needed"
done

# --- the temp folder, removed however the script ends ----------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/kobrat-compare.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the build --------------------------------------------------------------
echo "building kobrat (Release) in $build" >&2
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKOBRAT_TESTS=OFF -DKOBRAT_BENCH=OFF &&
  cmake --build "$build" --target kobrat kobrat-check write_floor \
    --parallel 2; } \
  >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  die "the build failed"
fi
kobrat=$build/kobrat
check=$build/kobrat-check
floor=$build/bench/write_floor
for program in "$kobrat" "$check" "$floor"; do
  [[ -x $program ]] || die "no program at $program"
done

# --- the clock: microseconds, without a process of its own where bash has
# EPOCHREALTIME -----------------------------------------------------------
if [[ -n ${EPOCHREALTIME:-} ]]; then
  clock() { now=${EPOCHREALTIME//[!0-9]/}; }
else
  clock() { now=$(($(date +%s%N) / 1000)); }
fi

# --- the test files -----------------------------------------------------------
# Writes the file and prints the size of the records kobrat must make of it.
# Every line of text is printable ASCII; the seed is fixed.
make_input() { # kind path bytes
  python3 - "$@" <<'PYTHON'
import random
import sys

kind, path, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
rnd = random.Random(0x4B4F42524154)
PRINTABLE = bytes(0x20 + b % 95 for b in range(256))
PIECE, OVERHEAD = 2047, 6


def records(text):  # a line of `text` characters: pieces of 2,047 at most
    return text + OVERHEAD * ((text + 1 + PIECE - 1) // PIECE)


def printable(n):
    return bytearray(rnd.randbytes(n).translate(PRINTABLE))


if kind in ("text40_lf", "text40_crlf"):
    lines = size // 40
    data = printable(lines * 40)
    if kind == "text40_crlf":
        data[38::40] = b"\r" * lines
        text = 38
    else:
        text = 39
    data[39::40] = b"\n" * lines
    expected = lines * records(text)
elif kind == "digits8":  # numbers of seven digits, one per line
    lines = size // 8
    first = 1000000
    count = min(lines, 10000000 - first)
    chunk = "".join("%d\n" % n for n in range(first, first + count)).encode()
    whole, rest = divmod(lines, count)
    data = chunk * whole + chunk[: rest * 8]
    expected = lines * records(7)
else:  # long: 1,000 to 6,000 characters
    text = printable(size + 6000)
    parts, used, expected = [], 0, 0
    while used < size:
        n = rnd.randrange(1000, 6001)
        parts.append(text[used : used + n])
        parts.append(b"\n")
        used += n + 1
        expected += records(n)
    data = b"".join(parts)
with open(path, "wb") as f:
    f.write(data)
print(expected)
PYTHON
}

# --- the commands -------------------------------------------------------------
run_dd() { dd if="$1" of="$2" bs=64K status=none; }
run_cat() { cat "$1" >"$2"; }
run_floor() { "$floor" "$1" "$2" "$work/plan" || die "write_floor failed"; }
run_kobrat() {
  local status=0
  "$kobrat" "$1" "$2" >/dev/null 2>"$work/kobrat.err" </dev/null ||
    status=$?
  # kobrat's status after a complete run is 1.
  if ((status != 1)); then
    cat "$work/kobrat.err" >&2
    die "kobrat $1 $2 ended with status $status"
  fi
}

# kobrat-check over the records kobrat made: checking them, and reading
# their text back to a file.
run_check() { "$check" "$1" >/dev/null || die "kobrat-check $1 failed"; }
run_text() { "$check" --text "$1" >"$2" || die "kobrat-check --text failed"; }

# Runs one command on a fresh output; `elapsed` is its time in microseconds.
timed() { # command in out
  local start
  rm -f "$3"
  clock
  start=$now
  "$@"
  clock
  elapsed=$((now - start))
}

# Peak resident memory of one kobrat run, in KB.
peak_kb() { # in out
  rm -f "$2"
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f %M -o "$work/rss" "$kobrat" "$1" "$2" \
      >/dev/null 2>&1 </dev/null || true
    tail -n 1 "$work/rss"
  else
    python3 - "$kobrat" "$1" "$2" <<'PYTHON'
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
PYTHON
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The median of an awk expression over the rounds: $1 dd, $2 cat, $3 kobrat,
# $4 floor.
median_of() { awk "{ print $1 }" "$work/times" | median; }

# The load average, to tell a quiet run from one that shared the machine.
load() { cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null || echo '?'; }

# --- the rounds -----------------------------------------------------------------
load_before=$(load)
bytes=$((mb * 1000 * 1000))
in=$work/in
out=$work/out
rows=()
check_rows=()
for input in $inputs; do
  echo "making $input ($mb MB)" >&2
  expected=$(make_input "$input" "$in" "$bytes")
  cat "$in" >/dev/null # into the page cache

  # One run of each, untimed: warms the caches and checks kobrat's output.
  run_dd "$in" "$out"
  run_cat "$in" "$out"
  rm -f "$out"
  run_kobrat "$in" "$out"
  size=$(stat -c %s "$in")
  made=$(stat -c %s "$out")
  ((made == expected)) ||
    die "kobrat made $made bytes of $input, not $expected"
  "$floor" --plan "$out" "$work/plan" || die "write_floor --plan failed"
  run_floor "$in" "$out"
  rss=$(peak_kb "$in" "$out")

  echo "timing $input: $rounds rounds" >&2
  : >"$work/times"
  for ((r = 0; r < rounds; r++)); do
    # The order turns each round so that none runs always first.
    order=(dd kobrat cat floor)
    order=("${order[@]:r%4}" "${order[@]:0:r%4}")
    declare -A took=()
    for command in "${order[@]}"; do
      timed "run_$command" "$in" "$out"
      took[$command]=$elapsed
    done
    echo "${took[dd]} ${took[cat]} ${took[kobrat]} ${took[floor]}" \
      >>"$work/times"
    unset took
  done
  rm -f "$out"

  # The companion over kobrat's records, the same number of rounds.
  run_kobrat "$in" "$work/records"
  : >"$work/check_times"
  for ((r = 0; r < rounds; r++)); do
    timed run_check "$work/records" "$out"
    check_took=$elapsed
    timed run_text "$work/records" "$out"
    echo "$check_took $elapsed" >>"$work/check_times"
  done
  rm -f "$out" "$work/records"
  check_s=$(awk '{ print $1 / 1e6 }' "$work/check_times" | median)
  text_s=$(awk '{ print $2 / 1e6 }' "$work/check_times" | median)

  dd_s=$(median_of "\$1 / 1e6")
  cat_s=$(median_of "\$2 / 1e6")
  kobrat_s=$(median_of "\$3 / 1e6")
  floor_s=$(median_of "\$4 / 1e6")
  rows+=("$(printf '%-12s %7.4f %7.4f %7.4f %8.4f %9.2f %10.2f %8.2f %12.2f %7.1f %6.3f' \
    "$input" "$dd_s" "$cat_s" "$floor_s" "$kobrat_s" \
    "$(median_of "\$3 / \$1")" "$(median_of "\$3 / \$2")" \
    "$(median_of "\$4 / \$1")" "$(median_of "\$3 / \$4")" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" \
    "$(awk -v m="$made" -v b="$size" 'BEGIN { print m / b }')")")
  check_rows+=("$(printf '%-12s %8.4f %8.4f' "$input" "$check_s" "$text_s")")
done

load_after=$(load)

echo
echo "$mb MB per input, median of $rounds rounds; $(nproc 2>/dev/null || echo '?') CPUs;" \
  "load average $load_before before, $load_after after"
echo "dd: dd if=in of=out bs=64K   cat: cat in > out   kobrat: kobrat in out"
echo "floor: write_floor in out plan (kobrat's reads and writes, no conversion)"
printf '%-12s %7s %7s %7s %8s %9s %10s %8s %12s %7s %6s\n' input 'dd s' \
  'cat s' 'floor s' 'kobrat s' 'kobrat/dd' 'kobrat/cat' 'floor/dd' \
  'kobrat/floor' 'RSS MiB' 'out/in'
printf '%s\n' "${rows[@]}"
echo
echo "check: kobrat-check out   text: kobrat-check --text out > text"
printf '%-12s %8s %8s\n' input 'check s' 'text s'
printf '%s\n' "${check_rows[@]}"
