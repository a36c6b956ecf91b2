#!/usr/bin/env bash
# Long fuzzing runs that add up over days: each named target (all of them by default) runs for
# <seconds> in turn, with a corpus that persists between runs in <state dir>/corpus/<target>,
# and inputs up to page size (-max_len 4 MiB). The CPU time each run used is appended to
# <state dir>/ledger.tsv (target, date, cpu seconds, executions, new findings), so the hours
# spent per target can be summed later:
#   scripts/fuzz-soak.sh <fuzz build dir> <state dir> <seconds> [target...]
#   awk -F'\t' '{s[$1]+=$3} END {for (t in s) printf "%s %.2f h\n", t, s[t]/3600}' <state>/ledger.tsv
# Findings (crash-, leak-, timeout-, oom- files) land in <state dir>/findings/<target>/; slow-unit-
# files there only say an input took over 10 s of wall time, which a niced soak on a busy machine
# produces without any slowness of its own, so they are not counted (run them again to check).
# To pause a soak without losing the time spent: create a file named `stop` in the state dir,
# then end the running fuzzer with SIGINT (`pkill -INT -f /fuzz/fuzz_`); its CPU time still goes
# to the ledger and no further run or target starts. Remove the file to soak again.
# Each finding fixed becomes a regression file under
# tests/imaging/data/ that the test suite replays.
set -uo pipefail

build=${1:?usage: fuzz-soak.sh <fuzz build dir> <state dir> <seconds> [target...]}
state=${2:?usage: fuzz-soak.sh <fuzz build dir> <state dir> <seconds> [target...]}
seconds=${3:?usage: fuzz-soak.sh <fuzz build dir> <state dir> <seconds> [target...]}
shift 3
repo=$(cd "$(dirname "$0")/.." && pwd)
corpus=${VANTREL_CORPUS_DIR:-$repo/../shared/corpus}

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/fuzz/fuzz_*; do
    [ -f "$f" ] && [ -x "$f" ] && targets+=("$(basename "$f")")
  done
fi
mkdir -p "$state"
export TMPDIR=$state/tmp
mkdir -p "$TMPDIR"

# Sets cpu_now to the CPU time (user + system) that this shell's finished children used, in
# whole seconds. The scratch file is per shell, so two soaks may share a state dir. `times` must
# run in this shell itself: in a pipeline or a $(...) it would report a subshell, which has no
# children of its own.
cpu_now=0
read_cpu() {
  times >"$state/.times.$$"
  cpu_now=$(tail -1 "$state/.times.$$" |
    awk '{ for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); s += p[1] * 60 + p[2] } } END { printf "%d", s }')
}

# The findings of one target so far (slow units are not findings).
count_findings() {
  find "$state/findings/$1" -maxdepth 1 -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l
}

for target in "${targets[@]}"; do
  [ -e "$state/stop" ] && break
  dir=$state/corpus/$target
  mkdir -p "$dir" "$state/findings/$target"
  seeds=()
  # The committed seeds and the public test images seed a new corpus.
  [ -d "$repo/fuzz/corpus/$target" ] && seeds+=("$repo/fuzz/corpus/$target")
  [ -d "$corpus" ] && [ -z "$(ls -A "$dir")" ] && seeds+=("$corpus")
  before=$(count_findings "$target")
  log=$state/$target.log
  : >"$log"
  start=$(date +%s)
  # A finding stops libFuzzer: start it again (crashing inputs never enter the corpus) until the
  # time is used. CPU time is the children's user + system time from bash's `times`.
  read_cpu
  cpu0=$cpu_now
  while left=$((seconds - ($(date +%s) - start))); [ "$left" -gt 5 ] && [ ! -e "$state/stop" ]; do
    "$build/fuzz/$target" -max_total_time="$left" -timeout=25 -rss_limit_mb=3072 \
      -max_len=4194304 -len_control=200 -print_final_stats=1 -reload=0 \
      -artifact_prefix="$state/findings/$target/" "$dir" "${seeds[@]}" >>"$log" 2>&1
    seeds=()
  done
  read_cpu
  cpu=$((cpu_now - cpu0))
  runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' |
         awk '{s+=$1} END {print s+0}')
  after=$(count_findings "$target")
  printf '%s\t%s\t%s\t%s\t%s\n' "$target" "$(date -u +%FT%TZ)" "$cpu" "${runs:-0}" \
    "$((after - before))" >>"$state/ledger.tsv"
  echo "fuzz-soak: $target $(( $(date +%s) - start ))s wall, ${cpu}s cpu, ${runs:-0} runs," \
    "$((after - before)) new findings"
done
