#!/usr/bin/env bash
# Runs the benchmarks of a build made with -DVANTREL_BUILD_BENCH=ON; each prints, after its
# timings, the ratios against references measured in the same run.
#   bench/run.sh <bench build dir> [google benchmark options...]
# The references are external programs: cjpeg (Debian libjpeg-turbo-progs), ImageMagick's
# convert, cp and scanimage; a reference that is not installed is reported as missing.
# Every goal prints one line starting "goal: met" or "goal: MISSED"; they are repeated together at
# the end, and the exit status is 1 when a goal was missed.
set -euo pipefail
build=${1:?usage: bench/run.sh <bench build dir> [options]}
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT
{
  "$build/bench/vantrel_imaging_bench" "$@"
  "$build/bench/vantrel_drawing_bench" "$@"
  "$build/bench/vantrel_scanner_bench" "$@"
  "$build/bench/vantrel_workflow_bench"
  "$build/bench/vantrel_cycle_bench"
} 2>&1 | tee "$log"
echo
echo "Summary of the goals:"
grep '^goal: ' "$log" || true
met=$(grep -c '^goal: met' "$log" || true)
missed=$(grep -c '^goal: MISSED' "$log" || true)
echo "$met goals met, $missed missed"
[ "$missed" -eq 0 ]
