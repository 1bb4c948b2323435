#!/bin/sh
# The Python module as `cmake --install` puts it (item 20 of the outside
# trial): under the configured prefix (staged with DESTDIR) it goes where
# PYTHON looks for modules there, or PREFIX/lib/pythonX.Y/site-packages when
# it looks nowhere there; under ~/.local (a scratch HOME) Python finds it with
# no PYTHONPATH; under any prefix it loads the library installed with it with
# no LD_LIBRARY_PATH, and refuses one of another version.
# Usage: library_install_test.sh BUILD_DIR PYTHON
set -eu
build=$(cd "$1" && pwd) python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "library_install: $*" >&2; exit 1; }
cd "$work"

# loads ROOT PREFIX [VAR=VALUE...]: the module installed under ROOT+PREFIX, imported
# from its folder, loads ROOT+PREFIX/lib/libtarnwick.so.0.
loads() {
  root=$1 prefix=$2
  shift 2
  module=$(find "$root$prefix" -name tarnwick.py)
  [ -n "$module" ] || fail "no tarnwick.py under $root$prefix"
  got=$(env -u LD_LIBRARY_PATH "$@" PYTHONPATH="$(dirname "$module")" "$python" -c \
    'import tarnwick; print(tarnwick._lib._name)')
  [ "$got" = "$root$prefix/lib/libtarnwick.so.0" ] || fail "$module loads $got"
}

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
DESTDIR=$work/stage cmake --install "$build" >/dev/null
loads "$work/stage" "$prefix"
expected=$("$python" -c "
import site, sys, sysconfig
p = sys.argv[1]
print(([d for d in site.getsitepackages() if d.startswith(p + '/lib/')] +
       [sysconfig.get_path('purelib', 'posix_prefix', vars={'base': p, 'platbase': p})])[0])" "$prefix")
[ "$(dirname "$module")" = "$work/stage$expected" ] || fail "the module is in $module, not $expected"

cmake --install "$build" --prefix "$work/opt" >/dev/null
loads "" "$work/opt"

mkdir "$work/home"
HOME=$work/home cmake --install "$build" --prefix "$work/home/.local" >/dev/null
got=$(env -u LD_LIBRARY_PATH -u PYTHONPATH HOME="$work/home" "$python" -c \
  'import tarnwick; print(tarnwick.__file__, tarnwick._lib._name)')
case $got in
  "$work/home/.local/lib/"*" $work/home/.local/lib/libtarnwick.so.0") ;;
  *) fail "under ~/.local, Python imports and loads $got" ;;
esac

sed -i 's/^_VERSION = .*/_VERSION = "0.0"/' "$module"
if PYTHONPATH=$(dirname "$module") "$python" -c 'import tarnwick' 2>"$work/err"; then
  fail "a module of version 0.0 loaded the library"
fi
grep -q "libtarnwick.so.0 is version" "$work/err" || fail "another version: $(cat "$work/err")"
echo "the module installs where $python looks and loads the library installed with it"
