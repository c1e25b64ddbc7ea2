#!/usr/bin/env bash
# Starts (creating it on first use) or stops the Wine prefix of a build tree. One wineserver is kept
# alive for the whole test run so that each program under test starts in about a second.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build tree}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log=$(dirname "$WINEPREFIX")/wine-prefix.log
case "${1:-}" in
  start)
    rm -rf "$(dirname "$WINEPREFIX")/wine-tmp"
    mkdir -p "$WINEPREFIX"
    # A server left by an interrupted run may hold a display that no longer exists.
    /usr/lib/wine/wineserver -k >>"$log" 2>&1 || true
    /usr/lib/wine/wineserver -w >>"$log" 2>&1 || true
    /usr/lib/wine/wineserver -p >>"$log" 2>&1 </dev/null
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      /usr/lib/wine/wine64 wineboot -i >>"$log" 2>&1
      # A crashing program must fail its test at once instead of waiting in a crash dialog.
      /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$log" 2>&1
      # Xvfb has no window manager; a managed window (a message box, say) would wait seconds for one.
      /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >>"$log" 2>&1
    fi
    ;;
  stop)
    /usr/lib/wine/wineserver -k >>"$log" 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
