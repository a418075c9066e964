#!/usr/bin/env bash
# Runs velmora-order ($1) on valid and invalid input and checks its output streams and exit codes.
set -u
tool=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

out=$(echo "0 1 2 2 1 3" | "$tool" 2>/dev/null) || fail "valid list exits non-zero"
[ "$out" = "0 1 2 2 1 3" ] || fail "valid list printed '$out'"

# The edge warning goes to standard error; standard output holds only the list.
err=$(printf '0 1 2\n1 0 3\n0 1 4\n' | "$tool" 2>&1 >/dev/null)
out=$(printf '0 1 2\n1 0 3\n0 1 4\n' | "$tool" 2>/dev/null)
[ "$err" = "BuildStripifyInfo: > 2 triangles on an edge... uncertain consequences" ] || fail "warning was '$err'"
[ "$(echo "$out" | wc -w)" = 9 ] && [ "$(echo "$out" | wc -l)" = 1 ] || fail "list with warning printed '$out'"

# The 80 triangles of a strip over 82 vertices, in scrambled order: the reordered list misses far less.
strip=$(for i in $(seq 0 79); do t=$(( i * 7 % 80 )); if [ $((t % 2)) = 0 ]; then echo "$t $((t + 1)) $((t + 2))"; \
        else echo "$((t + 1)) $t $((t + 2))"; fi; done)
out=$(echo "$strip" | "$tool" --acmr) || fail "--acmr exits non-zero"
if [[ "$out" =~ ^before\ ([0-9.]+)\ after\ ([0-9.]+)$ ]]; then
  awk -v b="${BASH_REMATCH[1]}" -v a="${BASH_REMATCH[2]}" 'BEGIN { exit !(b > 2.0 && a < 1.5) }' \
    || fail "--acmr values '$out'"
else
  fail "--acmr printed '$out'"
fi

for input in "0 1" "0 1 x" "0 1 65536" "0 1 -1" "0 1 99999999999999999999" "0 1 2.5"; do
  err=$(echo "$input" | "$tool" 2>&1 >/dev/null)
  code=$(echo "$input" | "$tool" >/dev/null 2>&1; echo $?)
  [ "$code" = 2 ] || fail "'$input' exited with $code"
  [ "$(echo "$err" | wc -l)" = 1 ] && [ -n "$err" ] || fail "'$input' wrote '$err'"
done

[ "$failures" = 0 ] && echo "order tool: all checks passed"
exit "$failures"
