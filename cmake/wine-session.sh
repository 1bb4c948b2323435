#!/bin/sh
# Starts or stops the Wine session the Windows tests run in:
#   wine-session.sh start|stop PREFIX
# "start" keeps the Wine server up between tests and boots the prefix with
# no output attached, so Wine's background programs never hold a test's
# output open (CTest would wait for them forever). "stop" ends them all.
set -u
WINEPREFIX=$2
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
case $1 in
start)
  /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
  exec /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
  ;;
stop)
  /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1
  exit 0
  ;;
esac
echo "usage: $0 start|stop PREFIX" >&2
exit 2
