#!/bin/sh
# Fuzzes the kOps entries of fuzz_ops.cpp one family at a time, then merges
# what every run found into the committed corpus (fuzz/corpus/): only the
# inputs that add coverage are kept.
#   fuzz/run_families.sh BUILT_FUZZ_OPS [SECONDS_PER_FAMILY]
# Crash files land in build/fuzz-work/.
set -eu
cd "$(dirname "$0")/.."
fuzzer=$(realpath "$1")
secs=${2:-60}
work=build/fuzz-work
mkdir -p "$work" fuzz/corpus
# family:first-last entry of kOps
for f in frame-image-arith-move:0-25 convert:26-27 color:28-30 alpha:31-35 stats:36-39 \
         filter:40-43 morph:44-47 geom:48-50 transform:51-53; do
  name=${f%%:*}; range=${f#*:}
  mkdir -p "$work/$name"
  echo "== $name (entries $range), ${secs}s"
  (cd "$work" && FUZZ_OPS=$range "$fuzzer" -max_total_time="$secs" -max_len=160 -print_final_stats=1 \
      "$name" > "$name.log" 2>&1) || echo "   $name: the fuzzer stopped with a finding (see $work/$name.log)"
  grep -E "stat::number_of_executed_units|cov: " "$work/$name.log" | tail -2
done
mkdir -p "$work/merged"
"$fuzzer" -merge=1 fuzz/corpus "$work"/frame-image-arith-move "$work"/convert "$work"/color "$work"/alpha \
  "$work"/stats "$work"/filter "$work"/morph "$work"/geom "$work"/transform > "$work/merge.log" 2>&1
ls fuzz/corpus | wc -l
