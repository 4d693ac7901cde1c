#!/bin/sh
# Compares the dynamic symbols the library defines with its export map.
set -eu
lib=$1
map=$2
expected=$(grep -oE '^ +vex[A-Za-z0-9]*;' "$map" | tr -d ' ;' | sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^VEXLIB_1$' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exported symbols differ from $map:"
  echo "$expected" > /tmp/vex_expected.$$
  echo "$actual" > /tmp/vex_actual.$$
  diff /tmp/vex_expected.$$ /tmp/vex_actual.$$ || true
  rm -f /tmp/vex_expected.$$ /tmp/vex_actual.$$
  exit 1
fi
bad=$(echo "$actual" | grep -v '^vex' || true)
[ -z "$bad" ] || { echo "non-vex symbols exported: $bad"; exit 1; }
echo "$(echo "$actual" | wc -l) vex symbols exported, matching the map"
