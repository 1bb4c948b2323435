# Sourced by the library tests: expect_outcomes DIR FILES PROGRAM...
# writes to DIR/NAME, for each of the FILES (a space-separated list), what a
# library consumer must write for it: the document PROGRAM -c FILE '' writes,
# or "damaged: REASON" with the reason it prints, or "failed CODE" (1 for a
# file that is not a binary plist, 3 for one whose objects cannot be written).
expect_outcomes() {
  out=$1
  list=$2
  shift 2
  for f in $list; do
    expected=$out/$(basename "$f")
    if "$@" -c "$f" '' </dev/null >"$expected"; then continue; fi
    reason=$(sed -n 's/^File .* is damaged: //p' "$expected" | tr -d '\r')
    if [ -n "$reason" ]; then
      printf 'damaged: %s' "$reason" >"$expected"
    elif grep -q 'is not a binary plist!' "$expected"; then
      printf 'failed 1' >"$expected"
    else
      printf 'failed 3' >"$expected"
    fi
  done
}
