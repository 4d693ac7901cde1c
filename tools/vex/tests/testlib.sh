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

# t DESC CMD...: CMD must succeed (its output left in out.txt and err.txt).
t() {
  desc=$1
  shift
  if "$@" >out.txt 2>err.txt; then
    pass
  else
    fail "$desc: exit $?: $(cat err.txt)"
    return 1
  fi
}

# e DESC CODE TEXT CMD...: CMD must fail with exit CODE and print exactly
# one line on stderr, which contains TEXT.
e() {
  desc=$1 code=$2 text=$3
  shift 3
  "$@" >out.txt 2>err.txt
  rc=$?
  lines=$(wc -l <err.txt)
  if [ $rc -ne "$code" ]; then
    fail "$desc: exit $rc, expected $code: $(cat err.txt)"
  elif [ "$lines" -ne 1 ]; then
    fail "$desc: expected one line on stderr, got $lines: $(cat err.txt)"
  elif ! grep -qF -- "$text" err.txt; then
    fail "$desc: stderr lacks '$text': $(cat err.txt)"
  else
    pass
    return 0
  fi
  return 1
}
