# Sourced by the shell tests after they set $work: empties that directory,
# enters it, and counts what passed and what failed.
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
