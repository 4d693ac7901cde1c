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

# t DESC CMD...: CMD must succeed.
t() {
  desc=$1
  shift
  "$@" >out.txt 2>err.txt
  rc=$?
  if [ $rc -ne 0 ]; then
    fail "$desc: exit $rc: $(cat err.txt)"
    return 1
  fi
  pass
  return 0
}

# op DESC VEXARGS... -- CHECKARGS...: runs vex, then vexcheck expect.
op() {
  desc=$1
  shift
  vexargs=""
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    vexargs="$vexargs '$1'"
    shift
  done
  shift
  if eval t "\"vex $desc\"" "\"$vex\"" "$vexargs"; then
    t "check $desc" "$check" expect "$@"
  fi
}

# e DESC CODE TEXT CMD...: CMD must fail with exit CODE and print exactly
# one line on stderr that contains TEXT.
e() {
  desc=$1
  code=$2
  text=$3
  shift 3
  "$@" >out.txt 2>err.txt
  rc=$?
  lines=$(wc -l <err.txt)
  if [ $rc -ne "$code" ]; then
    fail "$desc: exit $rc, expected $code: $(cat err.txt)"
  elif ! grep -qF -- "$text" err.txt; then
    fail "$desc: stderr lacks '$text': $(cat err.txt)"
  elif [ "$lines" -ne 1 ]; then
    fail "$desc: expected one line on stderr, got $lines: $(cat err.txt)"
  else
    pass
  fi
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
  # name channels bits [height width] of every file the demo writes (the
  # size is the pattern's unless given); the file is NN-name.png, NN its step
  # number. Each family lists its files after its marker line.
  expected="pattern-rgb 3 8
pattern-gray 1 8
pattern-gray16 1 16
copy 3 8
set-gray128 3 8
copy-roi-into-gray 3 8
copy-coi1-red-only 3 8
set-roi-white-box 3 8
set-coi3-blue-zero 3 8
mirror-flipAxis0-rows 3 8
mirror-flipAxis1-columns 3 8
mirror-flipAxis-1-both 3 8
mirror-inplace-roi 3 8
exchange-a 3 8
exchange-b 3 8
adds-plus80 3 8
adds-minus80 3 8
subs-swap-255-negative 3 8
add-pattern-plus-halfturn 3 8
sub-pattern-minus-mirror 3 8
sub-swap-mirror-minus-pattern 3 8
muls-times2 3 8
mul-by-disc-mask 3 8
square 3 8
abs 3 8
adds-coi2-green-roi 3 8
ands-0xE0 3 8
ors-0x1F 3 8
xors-0x80 3 8
not 3 8
and-disc-mask 3 8
or-disc-mask 3 8
xor-pattern-mirror 3 8
rshift-3 3 8
lshift-3-of-rshift 3 8
lshift-1 3 8
threshold-gray-128 1 8
threshold-rgb-100 3 8
threshold-coi1-red 3 8
gray16-rshift-4 1 16
gray16-adds-20000 1 16
gray16-threshold-32768 1 16
# (demo files: convert)
convert-gray-8u-to-16u 1 16
convert-16u-to-8u-scale 1 8
convert-16u-to-8u-truncate 1 8
convert-16s-planes-back-to-rgb 3 8
bitonal-40-220 1 8
dib-mediancut8-fixed4 3 8 384 1024
# (demo files: color)
color-hsv 3 8
color-hsv-back 3 8
color-hls 3 8
color-hls-back 3 8
color-gray 1 8
color-from-gray 3 8
reduce-fs-2levels 1 8
reduce-fs-1bit 3 8
reduce-ordered 1 8
reduce-jjn 1 8
reduce-jitter4 1 8
twist-sepia 3 8
# (demo files: alpha)
alpha-background-rgba 4 8
alpha-sprite-rgba 4 8 192 256
composite-over 4 8
composite-in 4 8
composite-out 4 8
composite-atop 4 8
composite-xor 4 8
composite-plus 4 8
premultiply-sprite 4 8 192 256
mulscale-half 3 8
mulscale-ramp 3 8
# (demo files: stats)
gray-dark 1 8
histogram-dark 3 8
equalized 1 8
histogram-equalized 3 8
stretch-dark 1 8
gray-specks 1 8
erode 1 8
dilate 1 8
open 1 8
close 1 8
open-close 1 8
# (demo files: filter)
conv-sobel-magnitude 1 8
sepconv-121 3 8
noisy-salt-pepper 3 8
median-3x3-denoised 3 8
median-5x5-denoised 3 8
blur-3x3 3 8
blur-9x9 3 8
blur-25x25 3 8
max-7x7 1 8
min-7x7 1 8
# (demo files: morph)
# (demo files: geom)
zoom-x3-nn-linear-cubic 3 8 192 773
rotate-30-linear 3 8
rotate-90-exact 3 8
decimate-2-3-linear 3 8 256 341
decimate-2-3-cubic 3 8 256 341
# (demo files: transform)
fft-spectrum 1 8
fft-spectrum-lowpass 1 8
fft-lowpass 1 8
dct-coefficients 1 8
dct-lowpass 1 8"
  n=0
  while read -r name ch bits height width; do
    case $name in "#"* | "") continue ;; esac
    n=$((n + 1))
    file=$(demofile out "$name")
    if [ -n "$file" ]; then
      t "decode $name" "$check" size "$file" "${height:-384}" "${width:-512}" "$ch" "$bits"
    else
      fail "demo did not write NN-$name.png"
    fi
  done <<EOF
$expected
EOF
  written=$(ls out | grep -c '\.png$')
  [ "$written" -eq "$n" ] && pass || fail "demo wrote $written PNG files, expected $n"
  # One line per step, numbered from 00 without gaps, and no failed step.
  steps=$(grep -cE '^[0-9]{2,} ' demo-stdout.txt)
  last=$(grep -E '^[0-9]{2,} ' demo-stdout.txt | tail -n 1 | cut -d' ' -f1 | sed 's/^0*//')
  [ "$steps" -gt 38 ] && [ "$steps" -eq $((${last:-0} + 1)) ] && pass || fail "demo printed $steps step lines, the last numbered $last"
  grep -q FAILED demo-stdout.txt && fail "a demo step failed" || pass
  grep -qE '^01 .*vexCopy.* ms ' demo-stdout.txt && pass || fail "step lines lack the operation and time"
  # A few results checked against direct library calls.
  t "copy equals pattern" "$check" same out/00-pattern-rgb.png "$(demofile out copy)"
  t "abs of 8U equals pattern" "$check" same out/00-pattern-rgb.png "$(demofile out abs)"
  t "flip 1" "$check" expect mirror out/00-pattern-rgb.png "$(demofile out mirror-flipAxis1-columns)" flipAxis=1 changed=1
  t "flip -1" "$check" expect mirror out/00-pattern-rgb.png "$(demofile out mirror-flipAxis-1-both)" flipAxis=-1
  t "not" "$check" expect not out/00-pattern-rgb.png "$(demofile out not)" changed=1
  t "threshold gray" "$check" expect threshold out/00-pattern-gray.png "$(demofile out threshold-gray-128)" threshold=128
  t "16U rshift" "$check" expect rshift out/00-pattern-gray16.png "$(demofile out gray16-rshift-4)" shift=4
  t "convert planes and back" "$check" same out/00-pattern-rgb.png "$(demofile out convert-16s-planes-back-to-rgb)"
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
  # data movement
  op "copy roi" copy a.png o.png --src-roi 0,0,20,10 --dst-roi 30,20,20,10 --base b.png -- \
    copy a.png o.png src-roi=0,0,20,10 dst-roi=30,20,20,10 base=b.png changed=1
  op "copy coi" copy a.png o.png --src-coi 1 --dst-coi 3 --base b.png -- \
    copy a.png o.png src-coi=1 dst-coi=3 base=b.png
  op "copy rgba to bmp" copy rgba.png o.bmp -- copy rgba.png o.bmp
  op "set file" set a.png o.png --value 7 --roi 5,5,30,20 -- set a.png o.png fillValue=7 roi=5,5,30,20 changed=1
  op "set fillValue 300 clamps" set g16.pgm o.png --fillValue 300 --coi 1 -- set g16.pgm o.png fillValue=300 coi=1
  op "set new 16U" set n.png --size 10x20 --channels 3 --depth 16U --value 300 -- set z16.ppm n.png fillValue=300
  t "set new shape" "$check" size n.png 10 20 3 16
  op "exchange roi" exchange a.png b.png oa.png ob.png --src-roi 0,0,16,16 --dst-roi 40,20,16,16 -- \
    exchange a.png b.png oa.png ob.png src-roi=0,0,16,16 dst-roi=40,20,16,16 changed=1
  op "mirror 0" mirror a.png o.png --flipAxis 0 -- mirror a.png o.png flipAxis=0 changed=1
  op "mirror 1 alias" mirror a.png o.png --axis 1 -- mirror a.png o.png flipAxis=1 changed=1
  op "mirror -1 roi" mirror ga.png o.png --axis=-1 --roi 3,4,21,17 -- mirror ga.png o.png flipAxis=-1 roi=3,4,21,17 changed=1
  op "mirror 16U" mirror g16.pgm o.png --flipAxis -1 -- mirror g16.pgm o.png flipAxis=-1 changed=1
  # arithmetic
  op "add" add a.png b.png o.png -- add a.png b.png o.png changed=1
  op "adds -10" adds a.png o.png --value -10 -- adds a.png o.png value=-10 changed=1
  op "adds 16U" adds g16.pgm o.png --value 1000 -- adds g16.pgm o.png value=1000 changed=1
  op "adds coi roi" adds rgba.png o.png --value 0x40 --coi 2 --roi 10,10,30,30 -- adds rgba.png o.png value=0x40 coi=2 roi=10,10,30,30 changed=1
  op "sub" sub a.png b.png o.png -- sub a.png b.png o.png changed=1
  op "subtract swap" subtract a.png b.png o.png --swapOperands 1 -- sub a.png b.png o.png swapOperands=1 changed=1
  op "subs swap" subs a.png o.png --value 200 --swapOperands 1 -- subs a.png o.png value=200 swapOperands=1 changed=1
  op "mul" mul a.png b.png o.png -- mul a.png b.png o.png changed=1
  op "mul 16U" multiply g16.pgm h16.pgm o.png -- mul g16.pgm h16.pgm o.png changed=1
  op "muls" muls g.png o.png --value 3 -- muls g.png o.png value=3 changed=1
  op "muls -1 wraps" muls g.png o.png --value -1 -- muls g.png o.png value=-1 changed=1
  op "square" square g.png o.png -- square g.png o.png changed=1
  op "abs" abs a.png o.png -- abs a.png o.png
  # logic and shifts
  op "and" and a.png b.png o.png -- and a.png b.png o.png changed=1
  op "or" or a.png b.png o.png -- or a.png b.png o.png changed=1
  op "xor" xor a.png b.png o.png -- xor a.png b.png o.png changed=1
  op "ands" ands a.png o.png --value 0x1F0 -- ands a.png o.png value=0x1F0 changed=1
  op "ors 16U" ors g16.pgm o.png --value 0x18000 -- ors g16.pgm o.png value=0x18000 changed=1
  op "xors" xors rgba.png o.png --value 0xFF -- xors rgba.png o.png value=0xFF changed=1
  op "not" not ga.png o.png -- not ga.png o.png changed=1
  op "lshift" lshift a.png o.png --shift 2 -- lshift a.png o.png shift=2 changed=1
  op "lshift 8 clears" lshift a.png o.png --shift 8 -- lshift a.png o.png shift=8 changed=1
  op "rshift 16U" rshift g16.pgm o.png --shift 3 -- rshift g16.pgm o.png shift=3 changed=1
  # threshold
  op "threshold" threshold g.png o.png --threshold 128 -- threshold g.png o.png threshold=128 changed=1
  op "threshold coi" threshold a.png o.png --threshold 100 --coi 2 -- threshold a.png o.png threshold=100 coi=2 changed=1
  op "threshold 16U" threshold g16.pgm o3.png --threshold 30000 -- threshold g16.pgm o3.png threshold=30000 changed=1
  # colour
  op "gray" gray a.png o.png -- gray a.png o.png
  t "gray shape" "$check" size o.png 47 63 1 8
  op "hsv" hsv a.png o.png -- hsv a.png o.png changed=1
  op "hsv rgba" hsv rgba.png o.png -- hsv rgba.png o.png changed=1
  op "hsv2rgb" hsv2rgb a.png o.png -- hsv2rgb a.png o.png changed=1
  op "hls" hls a.png o.png -- hls a.png o.png changed=1
  op "hls2rgb" hls2rgb rgba.png o.png -- hls2rgb rgba.png o.png changed=1
  t "hsv round trip" "$vex" hsv a.png h.png && t "hsv back" "$vex" hsv2rgb h.png hb.png && t "back shape" "$check" size hb.png 47 63 3 8
  t "color" "$vex" color g.png o.png --red 1 --green 0.5 --blue 0.25 && t "color shape" "$check" size o.png 47 63 3 8
  t "reduce fs" "$vex" reduce g16.pgm o.png --dither fs --quantShift 6 && t "reduce shape" "$check" size o.png 47 63 1 8
  t "reduce 8-bit ordered" "$vex" reduce a.png o.png --dither ordered && t "reduce rgb shape" "$check" size o.png 47 63 3 8
  t "reduce jitter" "$vex" reduce g16.pgm o.png --dither jitter --jitter 2
  t "twist identity" "$vex" twist a.png o.png --matrix 1,0,0,0,0,1,0,0,0,0,1,0 --scale 4 && t "twist identity same" "$check" same a.png o.png
  t "twist sepia" "$vex" twist rgba.png o.png --preset sepia && t "twist shape" "$check" size o.png 47 63 4 8
  # zoom, decimation, rotation
  op "zoom x3 nn" zoom a.png o.png --factor 3/1 --interp nn -- zoom a.png o.png factor=3/1 interp=0
  t "zoom x3 shape" "$check" size o.png 141 189 3 8
  op "zoom 5/2 3/2 linear roi" zoom ga.png o.png --factor 5/2 --yfactor 3/2 --src-roi 3,4,21,17 -- \
    zoom ga.png o.png factor=5/2 yfactor=3/2 src-roi=3,4,21,17
  op "zoom cubic 16U" zoom g16.pgm o.png --factor 2/1 --interp cubic -- zoom g16.pgm o.png factor=2/1 interp=2
  op "zoom coi" zoom a.png o.png --factor 2/1 --coi 2 -- zoom a.png o.png factor=2/1 coi=2
  op "decimate 2/3" decimate a.png o.png --factor 2/3 -- decimate a.png o.png factor=2/3 interp=1
  t "decimate 2/3 shape" "$check" size o.png 31 42 3 8
  op "decimate cubic 16U" decimate g16.pgm o.png --factor 3/4 --yfactor 1/2 --interp cubic -- \
    decimate g16.pgm o.png factor=3/4 yfactor=1/2 interp=2
  op "decimate nn" decimate a.png o.png --factor 1/3 --interp 0 -- decimate a.png o.png factor=1/3 interp=0
  op "rotate 30" rotate a.png o.png --angle 30 -- rotate a.png o.png angle=3000 interp=1 changed=1
  op "rotate hundredths cubic" rotate a.png o.png --angle -4550 --hundredths --interp cubic --cx 5 --cy 7 -- \
    rotate a.png o.png angle=-4550 interp=2 xShift=5 yShift=7 changed=1
  op "rotate 90 16U" rotate g16.pgm o.png --angle 90 --interp nn --size 70x50 -- rotate g16.pgm o.png angle=9000 interp=0 changed=1
  op "rotate 0 copies" rotate a.png o.png --angle 360 -- rotate a.png o.png angle=36000
  t "rotate 0 equals input" "$check" same a.png o.png
  # timing flag and info
  t "time flag" "$vex" not a.png o.png --time && { grep -qE '^vexNot: [0-9.]+ ms$' out.txt && pass || fail "--time output: $(cat out.txt)"; }
  t "info" "$vex" info a.png g16.pgm
  grep -q "a.png: PNG, 47x63 (height x width), 3 channels, 8U" out.txt && pass || fail "info line: $(cat out.txt)"
  grep -qE '^  widthStep +192$' out.txt && pass || fail "info widthStep 192: $(cat out.txt)"
  grep -qE '^  widthStep +128$' out.txt && pass || fail "info widthStep 128 for 16U: $(cat out.txt)"
  grep -qE '^  align +4$' out.txt && pass || fail "info align"
  grep -qE '^  dataOrder +pixel' out.txt && pass || fail "info dataOrder"
  # 16-bit PNG round trip through libpng (written by vex, re-read by vex)
  t "16U png out" "$vex" copy g16.pgm r16.png && t "16U png in" "$vex" copy r16.png r16b.png &&
    t "16U round trip" "$check" same r16.png r16b.png && t "16U equals source" "$check" same g16.pgm r16b.png
  t "16U rgb png out" "$vex" not c16.ppm c16.png && t "16U rgb png in" "$vex" not c16.png c16b.png &&
    t "16U rgb round trip" "$check" same c16.ppm c16b.png
  # BMP and JPEG in
  t "bmp in" "$vex" copy o.bmp ob.png && t "bmp round trip" "$check" same rgba.png ob.png
  t "jpeg info" "$vex" info j.jpg
  grep -q "j.jpg: JPEG, 16x24 (height x width), 3 channels, 8U" out.txt && pass || fail "jpeg info: $(cat out.txt)"
  op "jpeg in" not j.jpg o.png -- not j.jpg o.png changed=1
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
  # alpha: compositing by operator name, premultiplied alpha, scaled products
  "$check" gen rgbb.png 47 63 4 8 0x7777 || fail "cannot make rgbb.png"
  for o in over in out atop xor plus; do
    op "composite $o" composite rgba.png rgbb.png o.png --op $o -- composite rgba.png rgbb.png o.png op=$o changed=1
  done
  op "composite divide premul roi" composite rgba.png rgbb.png o.png --operator atop --divideMode 1 --premulAlpha 1 \
    --roi 5,6,40,30 -- composite rgba.png rgbb.png o.png op=atop divideMode=1 premulAlpha=1 roi=5,6,40,30 changed=1
  op "composite constants" composite a.png b.png o.png --op over --alphaA 100 --alphaB 300 -- \
    composite a.png b.png o.png op=over alphaA=100 alphaB=300 changed=1
  op "premultiply" premultiply rgba.png o.png -- premultiply rgba.png o.png changed=1
  op "premultiply constant coi" premul rgba.png o.png --alpha 77 --coi 2 -- premultiply rgba.png o.png alphaValue=77 coi=2 changed=1
  op "mulscale" mulscale a.png b.png o.png -- mulscale a.png b.png o.png changed=1
  op "mulscale 16U" mulscale g16.pgm h16.pgm o.png -- mulscale g16.pgm h16.pgm o.png changed=1
  op "mulscales" mulscales ga.png o.png --value 200 -- mulscales ga.png o.png value=200 changed=1
  # morphology
  op "erode" erode a.png o.png -- erode a.png o.png changed=1
  op "dilate reflect x2" dilate g.png o.png --iterations 2 --border 2 -- dilate g.png o.png iterations=2 border=2 changed=1
  op "open wrap roi" open a.png o.png --roi 5,5,30,20 --border 3 -- open a.png o.png roi=5,5,30,20 border=3 changed=1
  op "close 16U constant" close g16.pgm o.png --border-value 65535 -- close g16.pgm o.png border-value=65535 changed=1
  op "close coi" close rgba.png o.png --coi 2 --iterations 3 --border 1 -- close rgba.png o.png coi=2 iterations=3 border=1 changed=1
  # histograms, lookup mapping, norms
  op "stretch" stretch g.png o.png --low 40 --high 200 -- stretch g.png o.png low=40 high=200 changed=1
  op "stretch 16U" stretch g16.pgm o.png --low 1000 --high 50000 -- stretch g16.pgm o.png low=1000 high=50000 changed=1
  op "stretch coi roi" stretch a.png o.png --low 0 --high 127 --coi 3 --roi 2,2,40,30 -- \
    stretch a.png o.png low=0 high=127 coi=3 roi=2,2,40,30 changed=1
  op "equalize" equalize a.png o.png -- equalize a.png o.png changed=1
  op "equalise 16U" equalise g16.pgm o.png -- equalize g16.pgm o.png changed=1
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
  # neighbourhood filters
  op "convolve sobel magnitude" convolve g.png o.png --kernel sobel-x+sobel-y --method 2 -- \
    convolve g.png o.png kernel=sobel-x+sobel-y method=2 changed=1
  op "convolve inline roi" conv a.png o.png --kernel 3x5:1,0,-1,2,1,0,0,1,0,0,-1,2,1,1,1/2 --roi 5,4,30,20 -- \
    convolve a.png o.png kernel=3x5:1,0,-1,2,1,0,0,1,0,0,-1,2,1,1,1/2 roi=5,4,30,20 changed=1
  op "convolve gauss5 16U" convolve g16.pgm o.png --kernel gauss5 -- convolve g16.pgm o.png kernel=gauss5 changed=1
  op "convolve coi" convolve a.png o.png --kernel sharpen --coi 2 -- convolve a.png o.png kernel=sharpen coi=2 changed=1
  op "sepconv" sepconv a.png o.png --xkernel 1,2,1 --ykernel 1,4,6,4,1 --xshift 2 --yshift 4 -- \
    sepconv a.png o.png xkernel=1,2,1 ykernel=1,4,6,4,1 xshift=2 yshift=4 changed=1
  op "blur 5x9" blur a.png o.png --rows 5 --cols 9 -- blur a.png o.png rows=5 cols=9 changed=1
  op "blur anchor 16U" blur g16.pgm o.png --rows 4 --cols 4 --anchorX 0 --anchorY 3 -- \
    blur g16.pgm o.png rows=4 cols=4 anchorX=0 anchorY=3 changed=1
  op "max" max a.png o.png --rows 3 --cols 5 -- max a.png o.png rows=3 cols=5 changed=1
  op "min alias" minfilter g.png o.png --rows 7 --cols 7 -- min g.png o.png rows=7 cols=7 changed=1
  op "median" median a.png o.png --rows 5 --cols 5 -- median a.png o.png rows=5 cols=5 changed=1
  op "median 16U roi" median g16.pgm o.png --rows 3 --cols 3 --roi 2,2,20,20 -- \
    median g16.pgm o.png rows=3 cols=3 roi=2,2,20,20 changed=1
  # transforms
  op "fft" fft g.png f.png -- fft g.png f.png
  op "fft rgb flags" fft a.png f3.png --flags 0x26 -- fft a.png f3.png flags=0x26
  op "fft inverse" fft f.png fb.png --inverse -- fft f.png fb.png inverse=1
  t "fft spectrum" "$vex" fft a.png f4.png --spectrum s.png && t "spectrum shape" "$check" size s.png 47 63 3 8
  op "dct" dct g.png c.png -- dct g.png c.png
  op "dct inverse" dct c.png cb.png --inverse -- dct c.png cb.png inverse=1
  finish
fi

# ------------------------------------------------------------------ errors
if [ "$group" = errors ]; then
  make_inputs
  printf 'not an image\n' >junk.png
  head -c 60 a.png >trunc.png
  mkdir adir
  # usage (2)
  e "no command" 2 "no command given" "$vex"
  e "unknown command" 2 "unknown command 'frobnicate'" "$vex" frobnicate
  e "unknown option" 2 "unknown option --nope" "$vex" adds a.png o.png --value 1 --nope 3
  e "bad int" 2 "bad value 'abc' for --value" "$vex" adds a.png o.png --value abc
  e "int out of range" 2 "bad value '4294967296' for --value" "$vex" adds a.png o.png --value 4294967296
  e "bad roi" 2 "bad value '1,2,3' for --roi" "$vex" not a.png o.png --roi 1,2,3
  e "bad size" 2 "bad value '10by20' for --size" "$vex" set n.png --size 10by20 --value 1
  e "bad depth" 2 "bad value '32F' for --depth" "$vex" set n.png --size 10x20 --depth 32F --value 1
  e "missing value" 2 "missing required option --value" "$vex" adds a.png o.png
  e "missing option argument" 2 "option --threshold needs a value" "$vex" threshold a.png o.png --threshold
  e "file count" 2 "expected A B OUT" "$vex" add a.png o.png
  e "repeated option" 2 "given twice" "$vex" adds a.png o.png --value 1 --value 2
  e "set shape without size" 2 "--channels applies only with --size" "$vex" set a.png --value 1 --channels 3
  # I/O (3)
  e "missing file" 3 "cannot read 'nosuch.png': No such file or directory" "$vex" not nosuch.png o.png
  e "directory" 3 "cannot read 'adir': is a directory" "$vex" not adir o.png
  e "not an image" 3 "unsupported image format in 'junk.png'" "$vex" info junk.png
  e "truncated png" 3 "cannot decode 'trunc.png'" "$vex" not trunc.png o.png
  e "output format" 3 "unsupported output format '.tif'" "$vex" not a.png o.tif
  e "16U as bmp" 3 "BMP holds 8-bit samples" "$vex" not g16.pgm o.bmp
  e "unwritable" 3 "cannot write 'adir/none/o.png'" "$vex" not a.png adir/none/o.png
  # library (1): status text and failed condition
  rm -f o.png
  e "channels" 1 "vexAdd: Bad argument: (nChSrcB != nChDst)" "$vex" add a.png g.png o.png
  [ -f o.png ] && fail "an output was written after a library error" || pass
  e "depth" 1 "vexAdd: Bad argument: (srcImageB->depth != dstImage->depth)" "$vex" add a.png g16.pgm o.png
  e "flipAxis" 1 "vexMirror: Bad argument: ((flipAxis>1)||(flipAxis<-1))" "$vex" mirror a.png o.png --flipAxis 2
  e "coi mismatch" 1 "vexMirror: Bad argument: (coiSrc!=coiDst)" "$vex" mirror a.png o.png --axis 0 --src-coi 1
  e "coi beyond channels" 1 "COI is less zero or is more image channel's number" "$vex" not a.png o.png --coi 4
  e "threshold depth" 1 "vexThreshold: Bad argument: (srcImage->depth!=dstImage->depth)" \
    "$vex" threshold a.png o.png --threshold 1 --base z16.ppm
  e "threshold channels" 1 "vexThreshold: Bad argument: The mismath of number channels" \
    "$vex" threshold a.png o.png --threshold 1 --base g.png
  e "convert coi" 1 "vexConvert: Bad argument: ((srcImage->nChannels > 1) && (srcImage->roi == 0))" "$vex" convert a.png o.png --depth 1U
  e "convert mode" 1 "vexConvert: Bad argument: ((ConvertMode != 1) && (ConvertMode != 0))" "$vex" convert a.png o.png --depth 16S --mode 2
  e "convert depth" 2 "bad value '12U' for --depth" "$vex" convert a.png o.png --depth 12U
  e "convert order" 2 "bad value 'planar' for --order" "$vex" convert a.png o.png --order planar
  e "bitonal range" 1 "vexBitonalToGray: Bad argument: ((dstImage->depth == 8) && (OneScale > 255))" "$vex" bitonal g.png o.png --one 256
  e "bitonal 1U" 1 "vexBitonalToGray: Bad argument: (dstImage->depth == 1)" "$vex" bitonal g.png o.png --depth 1U
  "$vex" tobmp a.png e.bmp --bits 8 >/dev/null 2>&1 || fail "cannot make e.bmp"
  head -c 2000 e.bmp >etrunc.bmp
  head -c 30 e.bmp >ehead.bmp
  cp e.bmp eplanes.bmp && printf '\002' | dd of=eplanes.bmp bs=1 seek=26 conv=notrunc 2>/dev/null
  cp e.bmp erle.bmp && printf '\001' | dd of=erle.bmp bs=1 seek=30 conv=notrunc 2>/dev/null
  cp e.bmp ebits.bmp && printf '\002' | dd of=ebits.bmp bs=1 seek=28 conv=notrunc 2>/dev/null
  cp e.bmp esize.bmp && printf '\100' | dd of=esize.bmp bs=1 seek=14 conv=notrunc 2>/dev/null
  rm -f o.png
  e "truncated bmp rows" 3 "cannot decode 'etrunc.bmp': truncated BMP (pixel rows)" "$vex" copy etrunc.bmp o.png
  e "truncated bmp header" 3 "cannot decode 'ehead.bmp': truncated BMP" "$vex" copy ehead.bmp o.png
  e "bmp planes" 1 "vexTranslateDIB: Bad argument: (dib->biPlanes != 1)" "$vex" copy eplanes.bmp o.png
  e "bmp compression" 1 "vexTranslateDIB: Bad argument: (dib->biCompression != 0) && (dib->biCompression != 3)" "$vex" copy erle.bmp o.png
  e "bmp bit count" 1 "vexTranslateDIB: Bad argument: Bad dib->biBitCount" "$vex" copy ebits.bmp o.png
  e "bmp header size" 3 "BMP header of 64 bytes" "$vex" copy esize.bmp o.png
  [ -f o.png ] && fail "an output was written from a malformed BMP" || pass
  e "tobmp bits" 2 "tobmp: --bits must be 1, 4, 8, 16, 24 or 32" "$vex" tobmp a.png o.bmp --bits 12
  e "tobmp palette" 2 "bad value 'octree' for --palette" "$vex" tobmp a.png o.bmp --palette octree
  e "tobmp 16U" 3 "reduce it with vex tobmp" "$vex" copy g16.pgm o.bmp
  t "tobmp help" "$vex" tobmp --help && { grep -q -- "--palette" out.txt && grep -q "vexConvertToDIB" out.txt && pass || fail "tobmp --help: $(cat out.txt)"; }
  t "help lists convert" "$vex" --help && for c in convert bitonal; do
    grep -qE "^  $c " out.txt && pass || fail "--help does not list $c"
  done
  t "convert help" "$vex" convert --help && { grep -q -- "--mode, --ConvertMode" out.txt && grep -q "vexConvert" out.txt && pass || fail "convert --help: $(cat out.txt)"; }
  t "bitonal help" "$vex" bitonal --help && { grep -q -- "--zero, --ZeroScale" out.txt && pass || fail "bitonal --help: $(cat out.txt)"; }
  e "gray of gray" 1 "vexColorToGray: Bad argument: incomatibleimages" "$vex" gray g.png o.png
  e "hsv2rgb of gray" 1 "vexHSV2RGB: Bad argument: incomatibleimages" "$vex" hsv2rgb g.png o.png
  e "reduce dither name" 2 "--dither expects none, fs, jjn, stucki, ordered or jitter" "$vex" reduce g16.pgm o.png --dither floyd
  e "reduce jitter range" 1 "vexReduceBits: Bad argument: (0>jitterType)||(jitterType>8)" "$vex" reduce g16.pgm o.png --jitter 9
  e "twist one source" 2 "give exactly one of --matrix and --preset" "$vex" twist a.png o.png
  e "twist matrix" 2 "--matrix expects twelve comma-separated numbers" "$vex" twist a.png o.png --matrix 1,2,3
  e "twist scaling" 1 "vexCreateColorTwist: Bad argument: bad_argument" "$vex" twist a.png o.png --preset sepia --scale 40
  e "twist channels" 1 "vexApplyColorTwist: Bad argument: (srcImage->nChannels < 3)" "$vex" twist g.png o.png --preset gray
  e "iterations" 1 "vexErode: Bad argument: Illegal number of of iterations" "$vex" erode a.png o.png --iterations 0
  e "norm type" 1 "vexNorm: Bad argument: normType unknown" "$vex" norm a.png --type 3
  e "norm channels" 1 "vexNorm: Bad argument: (srcImageA->nChannels!=srcImageB->nChannels)" "$vex" norm a.png g.png
  e "relative norm of one image" 2 "norm: the relative types need a second image B" "$vex" norm a.png --type 10
  e "stretch range" 2 "stretch: need 0 <= --low < --high <= 255" "$vex" stretch a.png o.png --low 9 --high 9
  e "histogram bins" 2 "histogram: --bins must lie between 1 and 256" "$vex" histogram a.png --bins 0
  e "histogram files" 2 "histogram: expected one input file" "$vex" histogram a.png b.png
  e "zoom shrink" 1 "vexZoom: Bad argument: xU < xL || yU < yL" "$vex" zoom a.png o.png --factor 1/2
  e "zoom interp" 1 "vexZoom: Bad argument: interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR && interpolate != VEX_INTER_CUBIC" \
    "$vex" zoom a.png o.png --factor 2/1 --interp 7
  e "zoom factor text" 2 "bad value '2:1' for --factor" "$vex" zoom a.png o.png --factor 2:1
  e "zoom interp name" 2 "bad value 'bilinear' for --interp" "$vex" zoom a.png o.png --factor 2/1 --interp bilinear
  e "decimate grow" 1 "vexDecimate: Bad argument: xU > xL" "$vex" decimate a.png o.png --factor 3/2 --yfactor 1/2
  e "decimate zero" 1 "vexDecimate: Bad argument: xU <= 0" "$vex" decimate a.png o.png --factor 0/2 --yfactor 1/2
  e "rotate angle" 2 "bad value '30deg' for --angle" "$vex" rotate a.png o.png --angle 30deg
  e "rotate hundredths" 2 "expected an integer with --hundredths" "$vex" rotate a.png o.png --angle 30.5 --hundredths
  e "rotate interp" 1 "vexRotate: Bad argument: interpolate != VEX_INTER_NN" "$vex" rotate a.png o.png --angle 10 --interp 3
  e "convolve bad kernel" 2 "bad kernel '3x3:1,2'" "$vex" convolve a.png o.png --kernel 3x3:1,2
  e "convolve method" 1 "vexConvolve2D: Bad argument: ( combineMethod != 0" "$vex" convolve a.png o.png --kernel laplace --method 7
  e "convolve channels" 1 "vexConvolve2D: Bad argument: Uncompatible images" "$vex" convolve a.png o.png --kernel laplace --base g.png
  e "sepconv depth" 1 "vexConvolveSep2D: Bad argument: srcImage->depth != dstImage->depth" \
    "$vex" sepconv a.png o.png --xkernel 1 --ykernel 1 --base z16.ppm
  e "blur rows" 1 "vexBlur: Bad argument: (nRows<0||nCols<0)" "$vex" blur a.png o.png --rows -2 --anchorY 0
  e "median anchor" 1 "vexMedianFilter: Bad argument: (anchorX>=nCols)||(anchorX<0)" "$vex" median a.png o.png --cols 3 --anchorX 3
  e "max depth" 1 "vexMaxFilter: Bad argument: srcImage->depth!=dstImage->depth" "$vex" max a.png o.png --base z16.ppm
  e "fft flags" 1 "vexRealFft2D: Bad argument: Error in input data" "$vex" fft a.png o.png --flags 0x3
  e "fft no overlap" 1 "vexRealFft2D: Bad argument: No calculations! Looking input data!" \
    "$vex" fft a.png o.png --src-roi 0,0,10,10 --dst-roi 20,20,10,10
  # help (0)
  t "help" "$vex" --help
  for c in copy set exchange mirror add adds sub subs mul muls square abs and or xor ands ors xors not lshift \
    rshift threshold gray color hsv hsv2rgb hls hls2rgb reduce twist erode dilate open close histogram \
    stretch equalize norm zoom decimate rotate convolve sepconv blur max min median fft dct demo info; do
    grep -qE "^  $c( |\()" out.txt && pass || fail "--help does not list $c"
  done
  grep -q "3  I/O error" out.txt && pass || fail "--help lacks the exit codes"
  t "command help" "$vex" subs --help
  grep -q -- "--swapOperands" out.txt && grep -q "vexSubtractS" out.txt && pass || fail "subs --help: $(cat out.txt)"
  t "mirror help" "$vex" mirror --help
  grep -q -- "--flipAxis, --axis" out.txt && pass || fail "mirror --help lacks the alias"
  t "reduce help" "$vex" reduce --help
  grep -q -- "--dither" out.txt && grep -q "vexReduceBits" out.txt && pass || fail "reduce --help: $(cat out.txt)"
  t "twist help" "$vex" twist --help
  grep -q -- "--preset" out.txt && grep -q -- "--matrix" out.txt && pass || fail "twist --help: $(cat out.txt)"
  # alpha
  e "composite operator" 2 "composite: unknown operator 'under'" "$vex" composite rgba.png rgba.png o.png --op under
  e "composite without alpha" 1 "vexAlphaComposite: Bad argument: srcImageA->alphaChannel < 1" \
    "$vex" composite a.png b.png o.png
  e "composite type depth" 1 "vexAlphaComposite: Bad argument: srcImageB->depth != dstImage->depth" \
    "$vex" composite rgba.png g16.pgm o.png
  e "premultiply no alpha" 1 "vexPreMultiplyAlpha: Bad argument: image->alphaChannel < 1" "$vex" premultiply a.png o.png
  e "mulscale channels" 1 "vexMultiplyScale: Bad argument: srcImageB->nChannels != dstImage->nChannels" \
    "$vex" mulscale a.png g.png o.png
  for c in composite premultiply mulscale mulscales; do
    t "$c help" "$vex" $c --help
    grep -q "^Usage: vex $c" out.txt && pass || fail "$c --help: $(cat out.txt)"
  done
  grep -q -- "--value" out.txt && grep -q vexMultiplySScale out.txt && pass || fail "mulscales --help lacks --value"
  t "rotate help" "$vex" rotate --help
  grep -q -- "--hundredths" out.txt && grep -q "vexRotate" out.txt && pass || fail "rotate --help: $(cat out.txt)"
  finish
fi

echo "unknown test group $group"
exit 2
