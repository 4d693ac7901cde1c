#!/bin/sh
# Fuzzes the kOps entries of fuzz_ops.cpp one family at a time, and the DIB
# functions with fuzz_dib (built beside fuzz_ops), then merges what every
# run found into the committed corpora: fuzz/corpus/ (fuzz_ops) and
# fuzz/corpus/dib/ (fuzz_dib); only the inputs that add coverage are kept.
#   fuzz/run_families.sh BUILT_FUZZ_OPS [SECONDS_PER_FAMILY]
#   FUZZ_FAMILIES="geom dib" fuzz/run_families.sh ...   only these families
# Crash files and logs land in build/fuzz-work/.
set -eu
cd "$(dirname "$0")/.."
fuzzer=$(realpath "$1")
dib_fuzzer=$(dirname "$fuzzer")/fuzz_dib
secs=${2:-60}
work=build/fuzz-work
mkdir -p "$work" fuzz/corpus fuzz/corpus/dib
wanted() { [ -z "${FUZZ_FAMILIES:-}" ] || case " $FUZZ_FAMILIES " in *" $1 "*) true ;; *) false ;; esac; }
ran_ops=""
# family:first-last entry of kOps
for f in frame-image-arith-move:0-25 convert:26-27 color:28-30 alpha:31-35 stats:36-39 \
         filter:40-43 morph:44-47 geom:48-50 transform:51-53; do
  name=${f%%:*}; range=${f#*:}
  wanted "$name" || continue
  ran_ops=1
  mkdir -p "$work/$name"
  echo "== $name (entries $range), ${secs}s"
  (cd "$work" && FUZZ_OPS=$range "$fuzzer" -max_total_time="$secs" -max_len=160 -print_final_stats=1 \
      "$name" > "$name.log" 2>&1) || echo "   $name: the fuzzer stopped with a finding (see $work/$name.log)"
  grep -E "stat::number_of_executed_units|cov: " "$work/$name.log" | tail -2
done
if [ -n "$ran_ops" ]; then
  for d in frame-image-arith-move convert color alpha stats filter morph geom transform; do mkdir -p "$work/$d"; done
  "$fuzzer" -merge=1 fuzz/corpus "$work"/frame-image-arith-move "$work"/convert "$work"/color "$work"/alpha \
    "$work"/stats "$work"/filter "$work"/morph "$work"/geom "$work"/transform > "$work/merge.log" 2>&1
  find fuzz/corpus -maxdepth 1 -type f | wc -l
fi
if [ -x "$dib_fuzzer" ] && wanted dib; then
  # The DIB functions: well-formed bitmaps of every format to start from,
  # then the committed DIB corpus grows by what the run finds.
  mkdir -p "$work/dib" "$work/dib-starts"
  /usr/bin/python3 fuzz/dib_starts.py "$work/dib-starts" > /dev/null
  echo "== dib (vexTranslateDIB, vexConvertFromDIB, vexConvertToDIB), ${secs}s"
  (cd "$work" && "$dib_fuzzer" -max_total_time="$secs" -max_len=4096 -print_final_stats=1 \
      dib ../../fuzz/corpus/dib dib-starts > dib.log 2>&1) || echo "   dib: the fuzzer stopped with a finding (see $work/dib.log)"
  grep -E "stat::number_of_executed_units|cov: " "$work/dib.log" | tail -2
  "$dib_fuzzer" -merge=1 fuzz/corpus/dib "$work/dib" "$work/dib-starts" > "$work/merge-dib.log" 2>&1
  ls fuzz/corpus/dib | wc -l
fi
