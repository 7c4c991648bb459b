#!/usr/bin/env bash
# Makes our own Wine prefix ready: booted, windows closing without the X11 stall, Chinese fonts linked.
# Must run with DISPLAY set (inside xvfb-run): a prefix booted without a display never shows a window later.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/wine-env.sh"
[ -n "${DISPLAY:-}" ] || { echo "wine-prefix: DISPLAY is not set" >&2; exit 1; }

# A server left from an earlier run belongs to a display that is gone: its windows would fail.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true

# A prefix booted while the 32-bit loader could not run lacks its 32-bit half; the marker cannot tell.
if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
  rm -f "$WINEPREFIX/.tavilo-ready"
fi
if [ ! -f "$WINEPREFIX/.tavilo-ready" ]; then
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot.exe --init </dev/null >/dev/null 2>&1
  "$WINESERVER" -w

  fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  ln -sf /usr/share/wine/fonts/* "$fonts/"
  ln -sf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$fonts/"

  reg() { "$WINE" reg.exe add "$@" /f </dev/null >/dev/null 2>&1; }
  reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
  link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  for face in "Tahoma" "Tahoma Bold" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    reg "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei'
  done
  subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for face in "宋体" "SimSun" "新宋体" "NSimSun" "微软雅黑" "Microsoft YaHei"; do
    reg "$subst" /v "$face" /d 'WenQuanYi Micro Hei'
  done
  "$WINESERVER" -w
  touch "$WINEPREFIX/.tavilo-ready"
fi
"$WINESERVER" -p
# A prefix-wide start costs seconds; booting once here makes every later test executable start in ~0.1 s.
"$WINE" wineboot.exe </dev/null >/dev/null 2>&1 || true
