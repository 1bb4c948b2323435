#!/usr/bin/env bash
# TARNWICK_TEST_SKIP as scripts/test.sh reads it: each value, the stages it
# leaves out, or "refused" where the run must stop before installing
# anything; and the value the README shows leaves out both heavy stages.
#   test_skip_test.sh SOURCE_DIR
set -eu
cd "$1"
. scripts/lib/stages.sh
failures=0
while IFS='|' read -r value expected; do
  if read_test_skip "$value" 2>/dev/null; then
    got=
    for stage in web windows; do stage_runs $stage || got+="$stage "; done
    got=${got% }
  else
    got=refused
  fi
  [ "$got" = "$expected" ] || { echo "'$value': left out '$got', not '$expected'"; failures=1; }
done <<'TABLE'
|
web|web
windows|windows
web,windows|web windows
 windows  web |web windows
web,,windows,|web windows
Web|refused
browser|refused
web,window|refused
core|refused
*|refused
TABLE
readme=$(sed -n 's/^TARNWICK_TEST_SKIP=\([^ ]*\) scripts\/test\.sh$/\1/p' README.md)
read_test_skip "$readme" && ! stage_runs web && ! stage_runs windows ||
  { echo "the README's TARNWICK_TEST_SKIP='$readme' does not leave out web and windows"; failures=1; }
# CI runs every stage, whatever the environment says.
grep -q '^TARNWICK_TEST_SKIP= scripts/test.sh$' .ci/run || { echo ".ci/run does not clear TARNWICK_TEST_SKIP"; failures=1; }
[ $failures = 0 ] && echo "TARNWICK_TEST_SKIP: every value read as expected"
exit $failures
