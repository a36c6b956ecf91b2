#!/usr/bin/env bash
# Runs the benchmarks of a build made with -DVANTREL_BUILD_BENCH=ON and prints, after the timings,
# the ratios against the references measured in the same run.
#   bench/run.sh <bench build dir> [google benchmark options...]
# The references are external programs: cjpeg (Debian libjpeg-turbo-progs), ImageMagick's
# convert and cp; a reference that is not installed is reported as missing.
set -euo pipefail
build=${1:?usage: bench/run.sh <bench build dir> [options]}
shift
exec "$build/bench/vantrel_imaging_bench" "$@"
