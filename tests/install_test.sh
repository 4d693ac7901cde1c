#!/bin/sh
# Installs the build into a scratch prefix, then builds a C program against
# it twice: through find_package(vexlib) and through pkg-config. Both must
# run, and the installed vex program must find its library.
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/app"
cat > "$work/app/main.c" <<'SRC'
#include <vexlib.h>
#include <stdio.h>
int main(void) {
    VexImage* im = vexCreateImageHeader(1, 0, (int)VEX_DEPTH_8U, "GRAY", "GRAY", 0, 0, 4, 2, 3,
                                        NULL, NULL, NULL);
    vexAllocateImage(im, 9);
    vexAddS(im, im, 1, NULL);
    int ok = (unsigned char)im->imageData[0] == 10 && vexGetErrStatus() == VEX_StsOk;
    vexDeallocate(im, VEX_IMAGE_ALL);
    printf("%s %s\n", vexGetLibVersion()->versionText, ok ? "ok" : "wrong");
    return ok ? 0 : 1;
}
SRC
cat > "$work/app/CMakeLists.txt" <<'SRC'
cmake_minimum_required(VERSION 3.16)
project(app C)
find_package(vexlib 1.3 REQUIRED)
add_executable(app main.c)
target_link_libraries(app PRIVATE vexlib::vexlib)
SRC
cmake -S "$work/app" -B "$work/app/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/app/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/app/build/app"
libdir=$(dirname "$(find "$work/prefix" -name vexlib.pc)")
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs vexlib)
case "$flags" in *"$work/prefix"*) ;; *) echo "pkg-config points elsewhere: $flags"; exit 1 ;; esac
cc -o "$work/app/pc" "$work/app/main.c" $flags
LD_LIBRARY_PATH="$work/prefix/lib" "$work/app/pc"
if [ -x "$work/prefix/bin/vex" ]; then "$work/prefix/bin/vex" --version; fi
# The installed Python package loads the installed library.
pydir="$work/prefix/lib/python3/dist-packages"
if [ -d "$pydir/vexlib" ] && /usr/bin/python3 -c "import numpy" 2>/dev/null; then
  env -u VEXLIB_LIBRARY PYTHONPATH="$pydir" /usr/bin/python3 -c '
import sys, numpy as np, vexlib
assert vexlib.LIBRARY_PATH.startswith(sys.argv[1]), vexlib.LIBRARY_PATH
assert (vexlib.add_scalar(np.zeros((2, 4), np.uint8), 3) == 3).all()
print("python module loads", vexlib.LIBRARY_PATH)' "$work/prefix"
fi
echo "install, find_package and pkg-config work"
