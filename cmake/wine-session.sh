#!/bin/sh
# Starts or stops the Wine session the Windows tests run in:
#   wine-session.sh start|stop PREFIX WINE_LOADER WINESERVER
# "start" keeps the Wine server up between tests and boots the prefix with
# no output attached, so Wine's background programs never hold a test's
# output open (CTest would wait for them forever). "stop" ends them all.
set -u
WINEPREFIX=$2
wine=$3
wineserver=$4
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
case $1 in
start)
  "$wineserver" -p </dev/null >/dev/null 2>&1
  exec "$wine" wineboot </dev/null >/dev/null 2>&1
  ;;
stop)
  "$wineserver" -k </dev/null >/dev/null 2>&1
  exit 0
  ;;
esac
echo "usage: $0 start|stop PREFIX WINE_LOADER WINESERVER" >&2
exit 2
