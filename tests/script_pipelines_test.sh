#!/bin/sh
# Regression: under "set -o pipefail", a pipeline whose last command stops
# reading early (grep -q, head) fails whenever the command before it writes
# into the closed pipe, though what was looked for is there. The scripts
# read such output whole first; this finds any pipeline of that shape.
#   script_pipelines_test.sh SOURCE_DIR
set -eu
cd "$1"
found=$(grep -nE '\|[[:space:]]*(grep[[:space:]]+(-[[:alpha:]]*[qm]|--quiet|--max-count)|head)([[:space:]]|$)' \
  scripts/*.sh scripts/lib/*.sh bench/*.sh fuzz/*.sh .ci/run || true)
if [ -n "$found" ]; then
  echo "pipelines that close their input early:"
  echo "$found"
  exit 1
fi
echo "no pipeline closes its input early"
