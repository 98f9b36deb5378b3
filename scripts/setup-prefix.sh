#!/usr/bin/env bash
# Creates the build tree's Wine prefix (once) and registers the test bed's stand-ins in it.
# Usage: setup-prefix.sh PREFIX BUILD_DIR
set -euo pipefail
prefix=$1
build=$2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

# Stand-in COM servers, one "CLSID path" per line, written by the build.
servers=$build/testbed/com-servers.txt
if [ -f "$servers" ]; then
  while read -r clsid dll; do
    [ -n "$clsid" ] || continue
    key="HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
    wine reg add "$key" /ve /d "$(winepath -w "$dll")" /f >/dev/null 2>&1
    wine reg add "$key" /v ThreadingModel /d Apartment /f >/dev/null 2>&1
  done < "$servers"
fi

# No test may start a real browser: https addresses go to the test bed's recorder instead.
recorder=$build/bin/tally_urlrecorder.exe
if [ -f "$recorder" ]; then
  wine reg add 'HKLM\Software\Classes\https\shell\open\command' /ve \
    /d "\"$(winepath -w "$recorder")\" \"%1\"" /f >/dev/null 2>&1
fi
