#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a short time, seeded from the public test
# images, and fails when any target finds a crash, a leak, a sanitizer report or a timeout.
#   scripts/fuzz-smoke.sh <fuzz build dir> <seconds per target>
# Findings are kept in <fuzz build dir>/fuzz-findings/<target>/ (replay one with
# `<build>/fuzz/<target> <file>`); commit a reproducer under tests/imaging/data/ named after the
# fault so the test suite replays it.
set -euo pipefail

build=${1:?usage: fuzz-smoke.sh <fuzz build dir> <seconds>}
seconds=${2:?usage: fuzz-smoke.sh <fuzz build dir> <seconds>}
repo=$(cd "$(dirname "$0")/.." && pwd)
corpus=${VANTREL_CORPUS_DIR:-$repo/../shared/corpus}
[ -d "$corpus" ] || { echo "fuzz-smoke: no corpus at $corpus" >&2; exit 2; }

targets=(fuzz_bitmap_load fuzz_decode_picture fuzz_decode_jpeg fuzz_decode_bmp fuzz_decode_tiff
         fuzz_decode_png fuzz_decode_pcx fuzz_decode_photocd fuzz_load_picture
         fuzz_load_picture_file fuzz_dib_assembler)
cmake --build "$build" --target "${targets[@]}" >/dev/null

# Seed files per target, chosen by name from the corpus; the DIB assembler's seeds (frame
# parameters and rows in its input layout) are kept in fuzz/corpus/.
seeds_for() {
  case $1 in
    fuzz_bitmap_load|fuzz_decode_bmp) find "$corpus/bmpsuite" "$corpus/image-rs/bmp" "$corpus/pillow/bmp" -name '*.bmp' ;;
    fuzz_decode_jpeg) find "$corpus" -iname '*.jpg' ;;
    fuzz_decode_tiff) find "$corpus" -iname '*.tif' -o -iname '*.tiff' ;;
    fuzz_decode_png) find "$corpus/pngsuite" "$corpus/libpng-testpngs" -name '*.png' ;;
    fuzz_decode_pcx) find "$corpus" -iname '*.pcx' -o -name 'pcx_overrun*.bin' ;;
    fuzz_decode_photocd) find "$corpus/libjpeg-turbo-testimages" -name '*.ppm' ;;
    fuzz_dib_assembler) find "$repo/fuzz/corpus/fuzz_dib_assembler" -type f ;;
    fuzz_load_picture|fuzz_load_picture_file) find "$corpus/bmpsuite" "$corpus/pngsuite" "$corpus/giflib-pic" "$corpus/pygif-suite" \
                         "$corpus/image-rs/ico" "$corpus/pillow" "$corpus/zigimg/pcx" "$corpus/sdl-image-samples" \
                         -type f -size -64k \( -iname '*.bmp' -o -iname '*.png' -o -iname '*.gif' -o -iname '*.ico' \
                         -o -iname '*.cur' -o -iname '*.pcx' -o -iname '*.jpg' \) ;;
    fuzz_decode_picture) find "$corpus" -type f -size -64k \( -iname '*.jpg' -o -iname '*.bmp' \
                           -o -iname '*.tif*' -o -iname '*.png' -o -iname '*.pcx' \) ;;
  esac
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
findings=$build/fuzz-findings
status=0
for target in "${targets[@]}"; do
  seeds=$work/seeds-$target
  mkdir -p "$seeds" "$work/new-$target" "$findings/$target"
  seeds_for "$target" >"$work/list-$target" || true
  head -n 400 "$work/list-$target" | while read -r f; do cp "$f" "$seeds/"; done
  echo "fuzz-smoke: $target for ${seconds}s ($(ls "$seeds" | wc -l) seeds)"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/$target/" \
      "$work/new-$target" "$seeds" >"$work/$target.log" 2>&1; then
    echo "fuzz-smoke: $target FAILED; log tail:" >&2
    tail -n 40 "$work/$target.log" >&2
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/$target.log" | tr '\n' ' '
    echo
  fi
done
exit $status
