# expect_outcomes DIR FILES PROGRAM...: writes to DIR/NAME, for each of the
# FILES (separated by spaces), what the library consumers print for it: the
# document PROGRAM $VERB FILE '' writes (VERB -c unless set), "damaged: REASON" with the reason it
# prints, or "failed 1" (not a binary plist) or "failed 3" (not convertible).
expect_outcomes() {
  out=$1 list=$2
  shift 2
  for f in $list; do
    expected=$out/$(basename "$f")
    "$@" "${VERB:--c}" "$f" '' </dev/null >"$expected" && continue
    reason=$(sed -n 's/^File .* is damaged: //p' "$expected" | tr -d '\r')
    if [ -n "$reason" ]; then outcome="damaged: $reason"
    elif grep -q 'is not a binary plist!' "$expected"; then outcome="failed 1"
    else outcome="failed 3"; fi
    printf '%s' "$outcome" >"$expected"
  done
}
