#!/bin/sh
# End-to-end tests of the vex program.
#   run_tests.sh GROUP VEX VEXCHECK WORKDIR
# GROUP is demo, ops or errors. WORKDIR is emptied and used for all files.
# vexcheck (tests/vexcheck.cpp) decodes files on its own and repeats each
# operation by calling the library directly.
set -u
group=$1
vex=$2
check=$3
work=$4

. "$(dirname "$0")/testlib.sh"

# row 'VEXARGS [| EXPECTARGS]': vex runs with VEXARGS, then `vexcheck expect`
# repeats the call on the library with EXPECTARGS (default: the same words).
row() {
  args=${1%%|*}
  cargs=${1#*|}
  [ "$cargs" = "$1" ] && cargs=$args
  set -f
  # shellcheck disable=SC2086
  t "vex $args" "$vex" $args && t "check $args" "$check" expect $cargs
  set +f
}
# rows: one row per input line.
rows() {
  while read -r r; do row "$r"; done
}

# errs: rows 'CODE;TEXT;VEXARGS'; each run of vex must fail as e expects.
errs() {
  while IFS=';' read -r code text args; do
    set -f
    # shellcheck disable=SC2086
    e "vex $args" "$code" "$text" "$vex" $args
    set +f
  done
}

finish() {
  echo "$group: $passed passed, $failed failed"
  [ $failed -eq 0 ]
  exit $?
}

# Inputs: odd widths so rows carry padding (63 * 3 = 189 bytes -> 192).
make_inputs() {
  "$check" gen a.png 47 63 3 8 0x1234 &&
    "$check" gen b.png 47 63 3 8 0x5678 &&
    "$check" gen g.png 47 63 1 8 0x9abc &&
    "$check" gen ga.png 47 63 2 8 0x1111 &&
    "$check" gen rgba.png 47 63 4 8 0x2222 &&
    "$check" gen rgbb.png 47 63 4 8 0x7777 &&
    "$check" gen g16.pgm 47 63 1 16 0x3333 &&
    "$check" gen h16.pgm 47 63 1 16 0x4444 &&
    "$check" gen z16.ppm 10 20 3 16 0 &&
    "$check" gen c16.ppm 9 13 3 16 0x5555 &&
    "$check" gen j.jpg 16 24 3 8 0x6666 || {
    echo "FAIL: cannot make the test inputs"
    exit 1
  }
}

# demofile DIR NAME: the file DIR/NN-NAME.png the demo wrote, or nothing.
demofile() {
  for f in "$1"/[0-9][0-9]-"$2".png "$1"/[0-9][0-9][0-9]-"$2".png; do
    [ -f "$f" ] && { echo "$f"; return; }
  done
}

# ------------------------------------------------------------------ demo
if [ "$group" = demo ]; then
  t "demo runs" "$vex" demo out || finish
  cp out.txt demo-stdout.txt
  # Every file the demo writes, NN-name.png (NN its step number), by shape:
  # channels bits [HxW, default the pattern's 384x512]: names.
  n=0
  while IFS=: read -r shape names; do
    set -- $shape
    ch=$1 bits=$2 size=${3:-384x512}
    for name in $names; do
      n=$((n + 1))
      file=$(demofile out "$name")
      if [ -n "$file" ]; then
        t "decode $name" "$check" size "$file" "${size%x*}" "${size#*x}" "$ch" "$bits"
      else
        fail "demo did not write NN-$name.png"
      fi
    done
  done <<LIST
3 8: pattern-rgb copy set-gray128 copy-roi-into-gray copy-coi1-red-only set-roi-white-box set-coi3-blue-zero
3 8: mirror-flipAxis0-rows mirror-flipAxis1-columns mirror-flipAxis-1-both mirror-inplace-roi exchange-a
3 8: exchange-b adds-plus80 adds-minus80 subs-swap-255-negative add-pattern-plus-halfturn
3 8: sub-pattern-minus-mirror sub-swap-mirror-minus-pattern muls-times2 mul-by-disc-mask square abs
3 8: adds-coi2-green-roi ands-0xE0 ors-0x1F xors-0x80 not and-disc-mask or-disc-mask xor-pattern-mirror rshift-3
3 8: lshift-3-of-rshift lshift-1 threshold-rgb-100 threshold-coi1-red convert-16s-planes-back-to-rgb color-hsv
3 8: color-hsv-back color-hls color-hls-back color-from-gray reduce-fs-1bit twist-sepia mulscale-half
3 8: mulscale-ramp histogram-dark histogram-equalized sepconv-121 noisy-salt-pepper median-3x3-denoised
3 8: median-5x5-denoised blur-3x3 blur-9x9 blur-25x25 rotate-30-linear rotate-90-exact
1 8: pattern-gray threshold-gray-128 convert-16u-to-8u-scale convert-16u-to-8u-truncate bitonal-40-220
1 8: color-gray reduce-fs-2levels reduce-ordered reduce-jjn reduce-jitter4 gray-dark equalized stretch-dark
1 8: gray-specks erode dilate open close open-close conv-sobel-magnitude max-7x7 min-7x7 fft-spectrum
1 8: fft-spectrum-lowpass fft-lowpass dct-coefficients dct-lowpass
1 16: pattern-gray16 gray16-rshift-4 gray16-adds-20000 gray16-threshold-32768 convert-gray-8u-to-16u
3 8 384x1024: dib-mediancut8-fixed4
4 8: alpha-background-rgba composite-over composite-in composite-out composite-atop composite-xor composite-plus
4 8 192x256: alpha-sprite-rgba premultiply-sprite
3 8 192x773: zoom-x3-nn-linear-cubic
3 8 256x341: decimate-2-3-linear decimate-2-3-cubic
LIST
  written=$(ls out | grep -c '\.png$')
  [ "$written" -eq "$n" ] && pass || fail "demo wrote $written PNG files, expected $n"
  # One line per step, numbered from 00 without gaps, and no failed step.
  steps=$(grep -cE '^[0-9]{2,} ' demo-stdout.txt)
  last=$(grep -E '^[0-9]{2,} ' demo-stdout.txt | tail -n 1 | cut -d' ' -f1 | sed 's/^0*//')
  [ "$steps" -gt 38 ] && [ "$steps" -eq $((${last:-0} + 1)) ] && pass || fail "demo printed $steps step lines, the last numbered $last"
  grep -q FAILED demo-stdout.txt && fail "a demo step failed" || pass
  grep -qE '^01 .*vexCopy.* ms ' demo-stdout.txt && pass || fail "step lines lack the operation and time"
  # A few results checked against direct library calls.
  p=out/00-pattern-rgb.png
  t "copy equals pattern" "$check" same $p "$(demofile out copy)"
  t "abs of 8U equals pattern" "$check" same $p "$(demofile out abs)"
  t "flip 1" "$check" expect mirror $p "$(demofile out mirror-flipAxis1-columns)" --flipAxis 1
  t "flip -1" "$check" expect mirror $p "$(demofile out mirror-flipAxis-1-both)" --flipAxis -1
  t "not" "$check" expect not $p "$(demofile out not)"
  t "threshold gray" "$check" expect threshold out/00-pattern-gray.png "$(demofile out threshold-gray-128)" --threshold 128
  t "16U rshift" "$check" expect rshift out/00-pattern-gray16.png "$(demofile out gray16-rshift-4)" --shift 4
  t "convert planes and back" "$check" same $p "$(demofile out convert-16s-planes-back-to-rgb)"
  # Small size and default directory.
  mkdir small && cd small || exit 1
  t "demo --size" "$vex" demo --size 32x48 && {
    t "default dir" test -n "$(demofile vex-demo gray16-threshold-32768)"
    t "small size" "$check" size "$(demofile vex-demo set-roi-white-box)" 32 48 3 8
  }
  cd ..
  finish
fi

# ------------------------------------------------------------------ ops
if [ "$group" = ops ]; then
  make_inputs
  # Every operation with its options (aliases of commands and options, and
  # --name=VALUE, where the vexcheck words follow a |); the output must
  # differ from the first input unless the row says changed=0.
  rows <<ROWS
copy a.png o.png --src-roi 0,0,20,10 --dst-roi 30,20,20,10 --base b.png
copy a.png o.png --src-coi 1 --dst-coi 3 --base b.png
copy rgba.png o.bmp | copy rgba.png o.bmp changed=0
set a.png o.png --value 7 --roi 5,5,30,20 | set a.png o.png --fillValue 7 --roi 5,5,30,20
set g16.pgm o.png --fillValue 300 --coi 1
set n.png --size 10x20 --channels 3 --depth 16U --value 300 | set z16.ppm n.png --fillValue 300
exchange a.png b.png oa.png ob.png --src-roi 0,0,16,16 --dst-roi 40,20,16,16
mirror a.png o.png --flipAxis 0
mirror a.png o.png --axis 1 | mirror a.png o.png --flipAxis 1
mirror ga.png o.png --axis=-1 --roi 3,4,21,17 | mirror ga.png o.png --flipAxis=-1 --roi 3,4,21,17
add a.png b.png o.png
adds rgba.png o.png --value 0x40 --coi 2 --roi 10,10,30,30
adds g16.pgm o.png --value -1000
sub a.png b.png o.png
subtract a.png b.png o.png --swapOperands 1 | sub a.png b.png o.png --swapOperands 1
subs a.png o.png --value 200 --swapOperands 1
mul a.png b.png o.png
multiply g16.pgm h16.pgm o.png | mul g16.pgm h16.pgm o.png
muls g.png o.png --value -1
sqr g.png o.png | square g.png o.png
abs a.png o.png | abs a.png o.png changed=0
and a.png b.png o.png
or a.png b.png o.png
xor a.png b.png o.png
ands a.png o.png --value 0x1F0
ors g16.pgm o.png --value 0x18000
xors rgba.png o.png --value 0xFF
not ga.png o.png
not j.jpg o.png
lshift a.png o.png --shift 2
rshift g16.pgm o.png --shift 3
threshold a.png o.png --threshold 100 --coi 2
threshold g16.pgm o.png --threshold 30000
gray a.png o.png
color g.png o.png --red 1 --green 0.5 --blue 0.25
hsv rgba.png o.png
hsv2rgb a.png o.png
hls a.png o.png
hls2rgb rgba.png o.png
composite rgba.png rgbb.png o.png --op over
composite rgba.png rgbb.png o.png --op in
composite rgba.png rgbb.png o.png --op out
composite rgba.png rgbb.png o.png --op xor
composite rgba.png rgbb.png o.png --op plus
composite rgba.png rgbb.png o.png --operator atop --divideMode 1 --premulAlpha 1 --roi 5,6,40,30 | composite rgba.png rgbb.png o.png --op atop --divideMode 1 --premulAlpha 1 --roi 5,6,40,30
composite a.png b.png o.png --op over --alphaA 100 --alphaB 300
premultiply rgba.png o.png
premul rgba.png o.png --alpha 77 --coi 2 | premultiply rgba.png o.png --alphaValue 77 --coi 2
mulscale a.png b.png o.png
mulscales ga.png o.png --value 200
erode a.png o.png
dilate g.png o.png --iterations 2 --border 2
open a.png o.png --roi 5,5,30,20 --border 3
close rgba.png o.png --coi 2 --iterations 3 --border-value 200
stretch g.png o.png --low 40 --high 200
stretch g16.pgm o.png --low 1000 --high 50000
stretch a.png o.png --low 0 --high 127 --coi 3 --roi 2,2,40,30
equalize a.png o.png
equalise g16.pgm o.png | equalize g16.pgm o.png
convolve g.png o.png --kernel sobel-x+sobel-y --method 2
conv a.png o.png --kernel 3x5:1,0,-1,2,1,0,0,1,0,0,-1,2,1,1,1/2 --roi 5,4,30,20 | convolve a.png o.png --kernel 3x5:1,0,-1,2,1,0,0,1,0,0,-1,2,1,1,1/2 --roi 5,4,30,20
convolve g16.pgm o.png --kernel gauss5
convolve a.png o.png --kernel sharpen+laplace+gauss3 --combineMethod 3 --coi 2 | convolve a.png o.png --kernel sharpen+laplace+gauss3 --method 3 --coi 2
sepconv a.png o.png --xkernel 1,2,1 --ykernel 1,4,6,4,1 --xshift 2 --yshift 4
blur a.png o.png --rows 5 --cols 9
blur g16.pgm o.png --nRows 4 --nCols 4 --anchorX 0 --anchorY 3 | blur g16.pgm o.png --rows 4 --cols 4 --anchorX 0 --anchorY 3
max a.png o.png --rows 3 --cols 5
minfilter g.png o.png --rows 7 --cols 7 | min g.png o.png --rows 7 --cols 7
median a.png o.png --rows 5 --cols 3 --roi 2,2,20,20
zoom a.png z3.png --factor 3/1 --interp nn
zoom ga.png o.png --factor 5/2 --yfactor 3/2 --src-roi 3,4,21,17
zoom g16.pgm o.png --factor 2/1 --interp cubic
zoom a.png o.png --factor 2/1 --coi 2
decimate a.png d23.png --factor 2/3
decimate g16.pgm o.png --factor 3/4 --yfactor 1/2 --interp cubic
decimate a.png o.png --factor 1/3 --interp 0
rotate a.png o.png --angle 30
rotate j.jpg o.png --angle 45 --interp nn
rotate a.png o.png --angle -4550 --hundredths --interp cubic --cx 5 --cy 7 | rotate a.png o.png --angle -4550 --hundredths --interp 2 --xShift 5 --yShift 7
rotate g16.pgm o.png --angle 90 --interp nn --size 70x50
rotate a.png r0.png --angle 360 | rotate a.png r0.png --angle 360 changed=0
fft g.png f.png
fft a.png f3.png --flags 0x26
fft f.png fb.png --inverse
dct g.png c.png
dct c.png cb.png --inverse
ROWS
  # Shapes the program chooses.
  t "new image shape" "$check" size n.png 10 20 3 16
  t "zoom x3 shape" "$check" size z3.png 141 189 3 8
  t "decimate 2/3 shape" "$check" size d23.png 31 42 3 8
  # Commands checked by their shape or by an equivalent route.
  t "reduce fs" "$vex" reduce g16.pgm o.png --dither fs --quantShift 6 && t "reduce shape" "$check" size o.png 47 63 1 8
  t "reduce 8-bit ordered" "$vex" reduce a.png o.png --dither ordered && t "reduce rgb shape" "$check" size o.png 47 63 3 8
  t "reduce jitter" "$vex" reduce g16.pgm o.png --dither jitter --jitter 2
  t "twist identity" "$vex" twist a.png o.png --matrix 1,0,0,0,0,1,0,0,0,0,1,0 --scale 4 && t "twist identity same" "$check" same a.png o.png
  t "twist sepia" "$vex" twist rgba.png o.png --preset sepia && t "twist shape" "$check" size o.png 47 63 4 8
  t "fft spectrum" "$vex" fft a.png f4.png --spectrum s.png && t "spectrum shape" "$check" size s.png 47 63 3 8
  # timing flag and info
  t "time flag" "$vex" not a.png o.png --time && { grep -qE '^vexNot: [0-9.]+ ms$' out.txt && pass || fail "--time output: $(cat out.txt)"; }
  t "info" "$vex" info a.png g16.pgm j.jpg
  for p in '^a.png: PNG, 47x63 \(height x width\), 3 channels, 8U' '^j.jpg: JPEG, 16x24 \(height x width\), 3 channels, 8U' \
    '^  widthStep +192$' '^  widthStep +128$' '^  align +4$' '^  dataOrder +pixel'; do
    grep -qE "$p" out.txt && pass || fail "info lacks '$p': $(cat out.txt)"
  done
  # 16-bit PNG round trip through libpng (written by vex, re-read by vex)
  t "16U png out" "$vex" copy g16.pgm r16.png && t "16U png in" "$vex" copy r16.png r16b.png &&
    t "16U round trip" "$check" same r16.png r16b.png && t "16U equals source" "$check" same g16.pgm r16b.png
  t "16U rgb png out" "$vex" not c16.ppm c16.png && t "16U rgb png in" "$vex" not c16.png c16b.png &&
    t "16U rgb round trip" "$check" same c16.ppm c16b.png
  t "bmp in" "$vex" copy o.bmp ob.png && t "bmp round trip" "$check" same rgba.png ob.png
  # depth conversion: round trips and equivalent routes
  t "convert 8U to 16U" "$vex" convert a.png c16.png --depth 16U && t "convert 16U shape" "$check" size c16.png 47 63 3 16 &&
    t "convert back, mode 0" "$vex" convert c16.png c8.png --to 8U --mode 0 && t "8U 16U 8U" "$check" same a.png c8.png
  t "convert 16U to 8U scaled" "$vex" convert g16.pgm hi.png --depth 8U --mode 1 && t "rshift 8" "$vex" rshift g16.pgm r8.png --shift 8 &&
    t "low byte of rshift" "$vex" convert r8.png lo.png --depth 8U --ConvertMode 0 && t "high byte" "$check" same hi.png lo.png
  t "convert 8S written re-centred" "$vex" convert a.png s8.png --depth 8S && t "8S same picture" "$check" same a.png s8.png
  t "convert 32S" "$vex" convert g16.pgm s32.png --depth 32S && t "32S same picture" "$check" same g16.pgm s32.png
  t "convert plane bl" "$vex" convert rgba.png pl.png --order plane --origin bl && t "plane bl same picture" "$check" same rgba.png pl.png
  t "convert to 1U" "$vex" convert a.png b1.png --depth 1U --src-coi 2 && t "threshold green" "$vex" threshold a.png t1.png --threshold 1 --coi 2 &&
    t "1U green" "$vex" convert t1.png t1g.png --depth 1U --src-coi 2 && t "1U equals threshold" "$check" same b1.png t1g.png
  t "bitonal" "$vex" bitonal g.png bt.png && t "threshold 1" "$vex" threshold g.png tg.png --threshold 1 && t "bitonal 0/255" "$check" same bt.png tg.png
  t "bitonal 16U 3 channels" "$vex" bitonal g.png bt16.png --depth 16U --channels 3 --zero 7 --one 65535 && t "bitonal shape" "$check" size bt16.png 47 63 3 16
  # BMP files through the library's DIB functions: every bit count and
  # table, both row directions; stb (vexcheck) reads what vex writes.
  for b in 1 4 8 24 32; do
    for p in mediancut fixed; do
      t "tobmp $b $p" "$vex" tobmp a.png d$b$p.bmp --bits $b --palette $p && t "bmp $b $p in" "$vex" copy d$b$p.bmp d$b$p.png
    done
  done
  t "24-bit bmp equals source" "$check" same a.png d24mediancut.bmp
  t "24-bit bmp read back" "$check" same a.png d24fixed.png
  t "8-bit median cut read by stb and vex alike" "$check" same d8mediancut.bmp d8mediancut.png
  t "4-bit fixed read by stb and vex alike" "$check" same d4fixed.bmp d4fixed.png
  t "1-bit is a gray ramp" "$check" size d1fixed.png 47 63 1 8
  t "tobmp rgba" "$vex" tobmp rgba.png d32.bmp && t "rgba by stb" "$check" same rgba.png d32.bmp &&
    t "rgba back" "$vex" copy d32.bmp d32.png && t "rgba same" "$check" same rgba.png d32.png
  t "tobmp top-down" "$vex" tobmp a.png td.bmp --topdown && t "top-down in" "$vex" copy td.bmp td.png && t "top-down same" "$check" same a.png td.png
  t "16-bit 5-6-5" "$vex" tobmp a.png s16.bmp --bits 16 --bitfields && t "16-bit top-down" "$vex" tobmp a.png s16t.bmp --bits 16 --bitfields --topdown &&
    t "16-bit in" "$vex" copy s16.bmp s16.png && t "16-bit top-down in" "$vex" copy s16t.bmp s16t.png && t "16-bit both directions" "$check" same s16.png s16t.png
  t "16U dithered to 8-bit gray" "$vex" tobmp g16.pgm g8.bmp --dither stucki --palette fixed && t "dithered shape" "$vex" copy g8.bmp g8.png &&
    t "dithered gray" "$check" size g8.png 47 63 1 8
  t "gray bmp" "$vex" copy g.png g.bmp && t "gray bmp in" "$vex" copy g.bmp gb.png && t "gray bmp same" "$check" same g.png gb.png
  # histograms and norms
  t "histogram" "$vex" histogram g.png --bins 4 --plot h.png
  [ "$(awk 'NR > 1 { s += $2 } END { print s }' out.txt)" = 2961 ] && pass || fail "histogram counts: $(cat out.txt)"
  t "histogram plot" "$check" size h.png 160 512 3 8
  t "histogram coi" "$vex" histo a.png --coi 2 --bins 8
  [ "$(grep -c '^channel' out.txt)" = 1 ] && grep -q '^channel 2' out.txt && pass || fail "histogram coi: $(cat out.txt)"
  # The L1 norm of an image is the sum of level x count over its histogram.
  t "histogram 256" "$vex" histogram g.png --bins 256
  l1=$(awk 'NR > 1 { split($1, r, "[.][.]"); s += r[1] * $2 } END { print s }' out.txt)
  t "norm L1" "$vex" norm g.png --type 2
  [ "$(cat out.txt)" = "$l1" ] && pass || fail "norm L1 $(cat out.txt), histogram says $l1"
  t "norm of a difference with itself" "$vex" norm a.png a.png --type 4
  [ "$(cat out.txt)" = 0 ] && pass || fail "norm a - a: $(cat out.txt)"
  t "relative norm" "$vex" norm a.png b.png --type 9
  awk '{ exit !($1 > 0 && $1 < 300) }' out.txt && pass || fail "relative maximum: $(cat out.txt)"
  finish
fi

# ------------------------------------------------------------------ errors
if [ "$group" = errors ]; then
  make_inputs
  printf 'not an image\n' >junk.png
  head -c 60 a.png >trunc.png
  mkdir adir
  "$vex" tobmp a.png e.bmp --bits 8 >/dev/null 2>&1 || fail "cannot make e.bmp"
  head -c 2000 e.bmp >etrunc.bmp
  head -c 30 e.bmp >ehead.bmp
  # poke FILE OFFSET OCTAL: a copy of e.bmp with one byte changed.
  poke() { cp e.bmp "$1" && printf "\\$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
  poke eplanes.bmp 26 002 && poke esize.bmp 14 100
  # Usage errors (2), I/O errors (3), and library errors (1: the function,
  # the status text and the failed condition) on the program's own paths:
  # one call the common path checks, and each command that checks between
  # calls of its own (the texts themselves are the library tests').
  errs <<ROWS
2;no command given;
2;unknown command 'frobnicate';frobnicate
2;unknown option --nope;adds a.png o.png --value 1 --nope 3
2;bad value 'abc' for --value;adds a.png o.png --value abc
2;bad value '4294967296' for --value;adds a.png o.png --value 4294967296
2;bad value '1,2,3' for --roi;not a.png o.png --roi 1,2,3
2;bad value '10by20' for --size;set n.png --size 10by20 --value 1
2;bad value '32F' for --depth;set n.png --size 10x20 --depth 32F --value 1
2;missing required option --value;adds a.png o.png
2;option --threshold needs a value;threshold a.png o.png --threshold
2;expected A B OUT;add a.png o.png
2;given twice;adds a.png o.png --value 1 --value 2
2;--channels applies only with --size;set a.png --value 1 --channels 3
2;bad value '12U' for --depth;convert a.png o.png --depth 12U
2;bad value 'planar' for --order;convert a.png o.png --order planar
2;tobmp: --bits must be 1, 4, 8, 16, 24 or 32;tobmp a.png o.bmp --bits 12
2;bad value 'octree' for --palette;tobmp a.png o.bmp --palette octree
2;--dither expects none, fs, jjn, stucki, ordered or jitter;reduce g16.pgm o.png --dither floyd
2;give exactly one of --matrix and --preset;twist a.png o.png
2;--matrix expects twelve comma-separated numbers;twist a.png o.png --matrix 1,2,3
2;norm: the relative types need a second image B;norm a.png --type 10
2;stretch: need 0 <= --low < --high <= 255;stretch a.png o.png --low 9 --high 9
2;histogram: --bins must lie between 1 and 256;histogram a.png --bins 0
2;histogram: expected one input file;histogram a.png b.png
2;bad value '2:1' for --factor;zoom a.png o.png --factor 2:1
2;bad value 'bilinear' for --interp;zoom a.png o.png --factor 2/1 --interp bilinear
2;bad value '30deg' for --angle;rotate a.png o.png --angle 30deg
2;expected an integer with --hundredths;rotate a.png o.png --angle 30.5 --hundredths
2;bad kernel '3x3:1,2';convolve a.png o.png --kernel 3x3:1,2
2;composite: unknown operator 'under';composite rgba.png rgba.png o.png --op under
3;cannot read 'nosuch.png': No such file or directory;not nosuch.png o.png
3;cannot read 'adir': is a directory;not adir o.png
3;unsupported image format in 'junk.png';info junk.png
3;cannot decode 'trunc.png';not trunc.png o.png
3;unsupported output format '.tif';not a.png o.tif
3;BMP holds 8-bit samples;not g16.pgm o.bmp
3;reduce it with vex tobmp;copy g16.pgm o.bmp
3;cannot write 'adir/none/o.png';not a.png adir/none/o.png
3;cannot decode 'etrunc.bmp': truncated BMP (pixel rows);copy etrunc.bmp o.png
3;cannot decode 'ehead.bmp': truncated BMP;copy ehead.bmp o.png
3;BMP header of 64 bytes;copy esize.bmp o.png
1;vexAdd: Bad argument: (nChSrcB != nChDst);add a.png g.png o.png
1;vexTranslateDIB: Bad argument: (dib->biPlanes != 1);copy eplanes.bmp o.png
1;vexThreshold: Bad argument: The mismath of number channels;threshold a.png o.png --threshold 1 --base g.png
1;vexConvert: Bad argument: ((srcImage->nChannels > 1) && (srcImage->roi == 0));convert a.png o.png --depth 1U
1;vexBitonalToGray: Bad argument: ((dstImage->depth == 8) && (OneScale > 255));bitonal g.png o.png --one 256
1;vexCreateColorTwist: Bad argument: bad_argument;twist a.png o.png --preset sepia --scale 40
1;vexNorm: Bad argument: normType unknown;norm a.png --type 3
1;vexConvolve2D: Bad argument: ( combineMethod != 0;convolve a.png o.png --kernel laplace --method 7
1;vexRealFft2D: Bad argument: No calculations! Looking input data!;fft a.png o.png --src-roi 0,0,10,10 --dst-roi 20,20,10,10
ROWS
  [ -f o.png ] && fail "an output was written after an error" || pass
  # Help: every command is listed with its library function and has its
  # own page; a few options with their aliases.
  t "help" "$vex" --help && cp out.txt help.txt
  grep -q "3  I/O error" help.txt && pass || fail "--help lacks the exit codes"
  for c in copy set exchange mirror add adds sub subs mul muls square abs and or xor ands ors xors not lshift \
    rshift threshold convert bitonal tobmp gray color hsv hsv2rgb hls hls2rgb reduce twist composite premultiply \
    mulscale mulscales erode dilate open close histogram stretch equalize norm zoom decimate rotate convolve \
    sepconv blur max min median fft dct demo info; do
    line=$(grep -E "^  $c( |\()" help.txt) || { fail "--help does not list $c"; continue; }
    fn=$(echo "$line" | grep -oE ' vex[A-Za-z0-9]+ ' | head -n 1 | tr -d ' ')
    "$vex" $c --help >out.txt 2>&1 && grep -q "^Usage: vex $c " out.txt && grep -q "3  I/O error" out.txt &&
      { [ -z "$fn" ] || grep -q "($fn)" out.txt; } && pass || fail "$c --help: $(head -n 3 out.txt)"
  done
  while read -r c text; do
    "$vex" $c --help | grep -qF -- "$text" && pass || fail "$c --help lacks '$text'"
  done <<HELP
subs --swapOperands
mirror --flipAxis, --axis
convert --mode, --ConvertMode
bitonal --zero, --ZeroScale
reduce --dither
twist --preset
twist --matrix
rotate --hundredths
tobmp --palette
mulscales --value
HELP
  finish
fi

echo "unknown test group $group"
exit 2
