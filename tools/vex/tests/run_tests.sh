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

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}

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

# ------------------------------------------------------------------ demo
if [ "$group" = demo ]; then
  t "demo runs" "$vex" demo out || finish
  cp out.txt demo-stdout.txt
  # name channels bits, in step order
  expected="00-pattern-rgb 3 8
00-pattern-gray 1 8
00-pattern-gray16 1 16
01-copy 3 8
02-set-gray128 3 8
03-copy-roi-into-gray 3 8
04-copy-coi1-red-only 3 8
05-set-roi-white-box 3 8
06-set-coi3-blue-zero 3 8
07-mirror-flipAxis0-rows 3 8
08-mirror-flipAxis1-columns 3 8
09-mirror-flipAxis-1-both 3 8
10-mirror-inplace-roi 3 8
11-exchange-a 3 8
11-exchange-b 3 8
12-adds-plus80 3 8
13-adds-minus80 3 8
14-subs-swap-255-negative 3 8
15-add-pattern-plus-halfturn 3 8
16-sub-pattern-minus-mirror 3 8
17-sub-swap-mirror-minus-pattern 3 8
18-muls-times2 3 8
19-mul-by-disc-mask 3 8
20-square 3 8
21-abs 3 8
22-adds-coi2-green-roi 3 8
23-ands-0xE0 3 8
24-ors-0x1F 3 8
25-xors-0x80 3 8
26-not 3 8
27-and-disc-mask 3 8
28-or-disc-mask 3 8
29-xor-pattern-mirror 3 8
30-rshift-3 3 8
31-lshift-3-of-rshift 3 8
32-lshift-1 3 8
33-threshold-gray-128 1 8
34-threshold-rgb-100 3 8
35-threshold-coi1-red 3 8
36-gray16-rshift-4 1 16
37-gray16-adds-20000 1 16
38-gray16-threshold-32768 1 16
40-fft-spectrum 1 8
41-fft-spectrum-lowpass 1 8
42-fft-lowpass 1 8
44-dct-coefficients 1 8
45-dct-lowpass 1 8"
  n=0
  while read -r name ch bits; do
    n=$((n + 1))
    if [ -f "out/$name.png" ]; then
      t "decode $name" "$check" size "out/$name.png" 384 512 "$ch" "$bits"
    else
      fail "demo did not write $name.png"
    fi
  done <<EOF
$expected
EOF
  written=$(ls out | grep -c '\.png$')
  [ "$written" -eq "$n" ] && pass || fail "demo wrote $written PNG files, expected $n"
  # One line per step (00 to 45) and no failed step.
  steps=$(grep -cE '^[0-9][0-9] ' demo-stdout.txt)
  [ "$steps" -eq 46 ] && pass || fail "demo printed $steps step lines, expected 46"
  grep -q FAILED demo-stdout.txt && fail "a demo step failed" || pass
  grep -qE '^01 .*vexCopy.* ms ' demo-stdout.txt && pass || fail "step lines lack the operation and time"
  # A few results checked against direct library calls.
  t "copy equals pattern" "$check" same out/00-pattern-rgb.png out/01-copy.png
  t "abs of 8U equals pattern" "$check" same out/00-pattern-rgb.png out/21-abs.png
  t "flip 1" "$check" expect mirror out/00-pattern-rgb.png out/08-mirror-flipAxis1-columns.png flipAxis=1 changed=1
  t "flip -1" "$check" expect mirror out/00-pattern-rgb.png out/09-mirror-flipAxis-1-both.png flipAxis=-1
  t "not" "$check" expect not out/00-pattern-rgb.png out/26-not.png changed=1
  t "threshold gray" "$check" expect threshold out/00-pattern-gray.png out/33-threshold-gray-128.png threshold=128
  t "16U rshift" "$check" expect rshift out/00-pattern-gray16.png out/36-gray16-rshift-4.png shift=4
  t "fft low-pass differs" sh -c "! '$check' same out/00-pattern-gray.png out/42-fft-lowpass.png 2>/dev/null"
  # Small size and default directory.
  mkdir small && cd small || exit 1
  t "demo --size" "$vex" demo --size 32x48 && {
    t "default dir" test -f vex-demo/38-gray16-threshold-32768.png
    t "small size" "$check" size vex-demo/05-set-roi-white-box.png 32 48 3 8
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
  e "fft flags" 1 "vexRealFft2D: Bad argument: Error in input data" "$vex" fft a.png o.png --flags 0x3
  e "fft no overlap" 1 "vexRealFft2D: Bad argument: No calculations! Looking input data!" \
    "$vex" fft a.png o.png --src-roi 0,0,10,10 --dst-roi 20,20,10,10
  # help (0)
  t "help" "$vex" --help
  for c in copy set exchange mirror add adds sub subs mul muls square abs and or xor ands ors xors not lshift rshift threshold fft dct demo info; do
    grep -qE "^  $c( |\()" out.txt && pass || fail "--help does not list $c"
  done
  grep -q "3  I/O error" out.txt && pass || fail "--help lacks the exit codes"
  t "command help" "$vex" subs --help
  grep -q -- "--swapOperands" out.txt && grep -q "vexSubtractS" out.txt && pass || fail "subs --help: $(cat out.txt)"
  t "mirror help" "$vex" mirror --help
  grep -q -- "--flipAxis, --axis" out.txt && pass || fail "mirror --help lacks the alias"
  finish
fi

echo "unknown test group $group"
exit 2
