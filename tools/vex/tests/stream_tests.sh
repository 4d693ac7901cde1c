#!/bin/sh
# Streamed vex runs (--tiles) against in-memory runs of the same commands.
#   stream_tests.sh VEX WORKDIR
# A streamed result (PGM/PPM) is read back by an in-memory `vex copy` into
# PNG and compared byte for byte with the PNG of the in-memory run.
set -u
vex=$1
work=$2
. "$(dirname "$0")/testlib.sh"

# same DESC IN OUTBASE VEXARGS...: runs the command in memory (OUTBASE.png)
# and streamed with each of the tile options (OUTBASE.pgm/.ppm), compares.
same() {
  desc=$1 in=$2 out=$3
  shift 3
  ext=${in##*.}
  if ! "$vex" "$@" "$in" "$out.png" 2>err.txt; then
    fail "$desc in memory: $(cat err.txt)"
    return
  fi
  for tiles in "8x8" "24x40" "56x16 --threads 2" "512x512 --threads 2" "40x24 --threads 3 --cache 1"; do
    # shellcheck disable=SC2086
    if ! "$vex" "$@" "$in" "$out.$ext" --tiles $tiles >out.txt 2>err.txt; then
      fail "$desc --tiles $tiles: $(cat err.txt)"
      continue
    fi
    if [ -s err.txt ]; then fail "$desc --tiles $tiles: output on stderr (not a terminal): $(cat err.txt)"; fi
    "$vex" copy "$out.$ext" "$out-back.png" && cmp -s "$out-back.png" "$out.png" &&
      pass || fail "$desc --tiles $tiles: streamed result differs from the in-memory one"
  done
}

# eo DESC CODE TEXT OUT CMD...: fails as e expects, and leaves neither OUT
# nor a temporary next to it.
eo() {
  desc=$1 code=$2 text=$3 out=$4
  shift 4
  e "$desc" "$code" "$text" "$@" || return
  if [ -n "$out" ] && { [ -e "$out" ] || ls "$out".part* >/dev/null 2>&1; }; then fail "$desc: $out or a temporary was left"; fi
}

"$vex" make-huge g.pgm --size 157x203 >/dev/null || fail "make-huge g.pgm"
"$vex" make-huge c.ppm --size 61x77 >/dev/null || fail "make-huge c.ppm"
"$vex" make-huge h.pgm --size 97x113 >/dev/null || fail "make-huge h.pgm"
[ "$(head -c 15 g.pgm | tr '\n' ' ')" = "P5 203 157 255 " ] && pass || fail "make-huge header"
[ "$(wc -c <g.pgm)" -eq $((15 + 157 * 203)) ] && pass || fail "make-huge size"

same "blur 5x5" g.pgm b blur --rows 5 --cols 5
same "blur 3x7 rgb" c.ppm bc blur --rows 3 --cols 7
same "threshold" g.pgm t threshold --threshold 120
same "threshold rgb coi" c.ppm tc threshold --threshold 120 --coi 2
same "mirror rows" g.pgm m0 mirror --flipAxis 0
same "mirror columns" g.pgm m1 mirror --flipAxis 1
same "mirror both, roi" g.pgm m2 mirror --flipAxis -1 --roi 11,5,150,100
same "median 3x5" g.pgm md median --rows 3 --cols 5
same "max filter roi" g.pgm mx max --rows 3 --cols 3 --roi 30,20,100,80
same "convolve sobel" g.pgm cv convolve --kernel sobel-x+sobel-y --method 2
same "sepconv" g.pgm sc sepconv --xkernel 1,2,1 --ykernel 1,4,6,4,1 --xshift 2 --yshift 4
same "adds" g.pgm as adds --value 77
same "not" c.ppm nt not
"$vex" blur g.pgm g2.pgm --tiles 16x16 --rows 3 --cols 3 >/dev/null 2>&1 || fail "g2.pgm"
same "add two files" g.pgm ad2 add g2.pgm
same "sub, dst roi" g.pgm sb sub g2.pgm --dst-roi 20,10,60,70 --src-roi 0,0,60,70
same "copy onto a base" g.pgm cp copy --roi 8,8,40,40 --base h.pgm

# 16-bit PGM streamed as in memory.
"$vex" make-huge w16.pgm --size 37x45 --depth 16U >/dev/null || fail "make-huge w16.pgm"
same "adds 16U PGM" w16.pgm a16 adds --value 1000
same "blur 16U PGM" w16.pgm b16 blur --rows 3 --cols 5

# --then: one pass equal to the two commands in turn, in memory and streamed.
"$vex" blur g.pgm two-a.png --rows 5 --cols 5 && "$vex" threshold two-a.png two.png --threshold 128 &&
  "$vex" adds two.png two3.png --value 7 --roi 10,10,60,50 || fail "two commands"
"$vex" blur g.pgm one.png --rows 5 --cols 5 --then threshold --threshold 128 && cmp -s one.png two.png && pass ||
  fail "--then in memory differs from the two commands"
for tiles in "24x40" "56x16 --threads 2"; do
  # shellcheck disable=SC2086
  "$vex" blur g.pgm one.pgm --rows 5 --cols 5 --tiles $tiles --then threshold --threshold 128 &&
    "$vex" copy one.pgm one-back.png && cmp -s one-back.png two.png && pass ||
    fail "--then streamed ($tiles) differs from the two commands"
done
"$vex" adds two.png three-a.png --value 0 --roi 10,10,60,50 --then adds --value 7 && cmp -s three-a.png two3.png &&
  pass || fail "--then keeps the first command's region"
eo "--then a filter" 2 "'blur' cannot follow --then" o11.png "$vex" threshold g.pgm o11.png --threshold 1 --then blur
eo "--then with a file" 2 "a step after --then takes no files" o12.png "$vex" blur g.pgm o12.png --then not o13.png
eo "--then with a region" 2 "--roi after --then: give it to the first command" o14.png \
  "$vex" blur g.pgm o14.png --then not --roi 1,1,5,5
eo "--then alone" 2 "--then needs a command" o15.png "$vex" blur g.pgm o15.png --then

# A depth round trip through a raw file: 8U -> 16U keeps the values, 16U ->
# 8U by truncation (mode 0) gives them back.
"$vex" convert g.pgm w.vxr --depth 16U --tiles 24x16 --threads 2 &&
  "$vex" convert w.vxr back.pgm --depth 8U --mode 0 --tiles 40x8 &&
  cmp -s back.pgm g.pgm && pass || fail "convert 8U -> 16U -> 8U through .vxr"
[ "$(head -c 21 w.vxr)" = "VEXRAW 203 157 1 16U" ] && pass || fail "raw header"

# --time reports the throughput and the peak resident memory.
"$vex" blur g.pgm tm.pgm --tiles 64x64 --time >out.txt 2>&1 && grep -q "MPix/s.*peak resident memory" out.txt &&
  pass || fail "--time: $(cat out.txt)"

# Failures: one line, the exit code of its kind, nothing left under the
# final name (the stream store's broken and unwritable files are
# stream_test's).
printf 'GIF89a' >gif.pgm
eo "not a streamable file" 3 "is not a binary PGM/PPM or VEXRAW file" o3.pgm "$vex" not gif.pgm o3.pgm --tiles 16x16
eo "tile size" 2 "multiples of 8" o5.pgm "$vex" blur g.pgm o5.pgm --tiles 12x16
eo "threads alone" 2 "--threads applies only with --tiles" o6.png "$vex" blur g.pgm o6.png --threads 2
eo "not streamed" 2 "--tiles is not available" o7.pgm "$vex" zoom g.pgm o7.pgm --factor 2/1 --tiles 16x16
eo "pgm of three channels" 2 "holds 1 channel" o8.pgm "$vex" blur c.ppm o8.pgm --tiles 16x16
eo "library failure" 1 "vexBlur: Bad argument" o9.pgm "$vex" blur g.pgm o9.pgm --tiles 16x16 --threads 2 --anchorX 7 --cols 0 --rows -1
eo "make-huge size" 2 "--size" "" "$vex" make-huge o10.pgm --size 0x5

echo "stream tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
