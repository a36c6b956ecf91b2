#!/usr/bin/env bash
# Runs the benchmarks of a build made with -DVANTREL_BUILD_BENCH=ON; each prints, after its
# timings, the ratios against references measured in the same run.
#   bench/run.sh <bench build dir> [google benchmark options...]
# The references are external programs: cjpeg (Debian libjpeg-turbo-progs), ImageMagick's
# convert, cp and scanimage; a reference that is not installed is reported as missing.
set -euo pipefail
build=${1:?usage: bench/run.sh <bench build dir> [options]}
shift
"$build/bench/vantrel_imaging_bench" "$@"
"$build/bench/vantrel_drawing_bench" "$@"
"$build/bench/vantrel_scanner_bench" "$@"
"$build/bench/vantrel_workflow_bench"
"$build/bench/vantrel_cycle_bench"
