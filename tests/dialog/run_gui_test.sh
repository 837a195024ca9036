#!/usr/bin/env bash
# Runs a Windows GUI test program under Wine on a private X display, in a Wine prefix of its
# own, and turns the screenshot that the program leaves (a BMP) into a PNG; a shot of the Bastion
# window next to it (X-bastion.bmp) becomes X-bastion.png.
#   run_gui_test.sh SCREENSHOT.png LOADER PREFIX ARCH [--dpi N] [--register DLL] PROGRAM [ARGS...]
# --dpi sets the prefix's screen resolution (dots per inch) when the prefix is first set up.
# With --register the in-process component DLL is registered (regsvr32) for the run and
# unregistered after it.
set -euo pipefail
png=$1 loader=$2 prefix=$3 arch=$4
shift 4
dpi= dll=
if [ "${1:-}" = --dpi ]; then
  dpi=$2
  shift 2
fi
if [ "${1:-}" = --register ]; then
  dll=$2
  shift 2
fi
here=$(cd "$(dirname "$0")" && pwd)

# A display of our own at 24 bits (xvfb-run's default screen has 8), also when the caller
# already runs under xvfb-run.
if [ -z "${TAVRIN_GUI_DISPLAY_READY:-}" ]; then
  export TAVRIN_GUI_DISPLAY_READY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$png" "$loader" "$prefix" "$arch" \
    ${dpi:+--dpi "$dpi"} ${dll:+--register "$dll"} "$@"
fi

bmp="${png%.png}.bmp"
bastion_bmp="${png%.png}-bastion.bmp" bastion_png="${png%.png}-bastion.png"
mkdir -p "$(dirname "$png")"
rm -f "$bmp" "$png" "$bastion_bmp" "$bastion_png"
export TAVRIN_DIALOG_SCREENSHOT="Z:${bmp}"
run() { bash "$here/../../scripts/wine-run.sh" "$loader" "$prefix" "$arch" "$@"; }
# There is no window manager on the display: Wine draws the windows' frames and captions
# itself, and does not wait (2 s each time) for a manager to take a hidden window down.
if [ ! -f "$prefix/.tavrin-gui-ready" ]; then
  run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
  run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  if [ -n "$dpi" ]; then
    run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  fi
  touch "$prefix/.tavrin-gui-ready"
fi
# Wine's own fonts (Debian: fonts-wine), among them Marlett, with which Wine draws the caption
# buttons: this Wine does not read them from its data folder, so the prefix gets a copy. Without
# them the close box shows the letter "r".
wine_fonts=/usr/share/wine/fonts
if [ -f "$wine_fonts/marlett.ttf" ] && [ ! -f "$prefix/drive_c/windows/Fonts/marlett.ttf" ]; then
  run cmd /c exit >/dev/null 2>&1 || true  # the prefix exists from here on
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp "$wine_fonts"/*.ttf "$prefix/drive_c/windows/Fonts/"
fi
rc=0
if [ -n "$dll" ]; then
  run regsvr32 /s "Z:$dll" || { echo "regsvr32 failed for $dll" >&2; rc=1; }
fi
if [ "$rc" = 0 ]; then run "$@" || rc=$?; fi
if [ -n "$dll" ]; then run regsvr32 /u /s "Z:$dll" || true; fi
# The display goes away with this script: end the prefix's Wine processes with it.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
if [ -f "$bmp" ]; then
  convert "$bmp" "$png"
  rm -f "$bmp"
  echo "screenshot: $png"
fi
if [ -f "$bastion_bmp" ]; then
  convert "$bastion_bmp" "$bastion_png"
  rm -f "$bastion_bmp"
  echo "screenshot: $bastion_png"
fi
exit "$rc"
