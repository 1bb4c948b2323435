#!/usr/bin/env bash
# Installs the Linux wheel from dist/ with `pip install --no-index` into a
# fresh virtual environment of every Python 3 on the machine (Debian's
# /usr/bin/python3 and each other python3 on the path, one per interpreter),
# runs the module's tests there with no PYTHONPATH or LD_LIBRARY_PATH against
# PROGRAM, then uninstalls it and checks that nothing of it is left.
# Usage: scripts/check-wheel.sh BUILD_DIR (a release build with its program)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
wheels=(dist/tarnwick-*-manylinux_*.whl)
[ -f "${wheels[0]}" ] || { echo "check-wheel: no Linux wheel in dist/: run scripts/build-wheel.sh" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-wheel: $*" >&2; exit 1; }

declare -A seen
pythons=()
for python in /usr/bin/python3 $(type -ap python3); do
  [ -x "$python" ] || continue
  real=$("$python" -c 'import os, sys; print(os.path.realpath(sys.executable))')
  [ -z "${seen[$real]:-}" ] || continue
  seen[$real]=1
  pythons+=("$python")
done

count=0
for python in "${pythons[@]}"; do
  env=$work/env-$((++count))
  "$python" -m venv "$env"
  site=$("$env/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')
  before=$(cd "$site" && find . | sort)
  env -u PYTHONPATH -u LD_LIBRARY_PATH "$env/bin/python" -m pip install -q --no-index \
    --disable-pip-version-check "${wheels[0]}"
  # Read whole, then matched: no pipe for an early-exiting reader to break.
  result=$(cd "$work" && env -u PYTHONPATH -u LD_LIBRARY_PATH "$env/bin/python" \
    "$OLDPWD/tests/library_test.py" "$OLDPWD/$build" "$OLDPWD/$build/tarnwick" \
    "$OLDPWD/tests/corpus/binary" --installed) || true
  [[ "$(tail -n 1 <<<"$result")" == *" 0 failures" ]] ||
    fail "the module installed in a venv of $python fails its tests"
  env -u PYTHONPATH "$env/bin/python" -m pip uninstall -q -y tarnwick
  after=$(cd "$site" && find . | sort)
  [ "$before" = "$after" ] ||
    fail "pip uninstall left $(diff <(echo "$before") <(echo "$after") | sed -n 's/^> //p')"
  echo "$("$python" -V) ($python): the wheel installs in a venv, passes the module's tests, uninstalls clean"
done
