#!/usr/bin/env bash
# Screens for a person to look at: plays a two-minute sample in orvan-viewer
# under Xvfb and works the window with xdotool as a user would, saving
#   saving.png   the saving indicator over the playing window (Save AVI)
#   copying.png  the copy window while it copies the recording into a clip
# into OUTDIR (default screens/). Needs Xvfb, xdotool and ImageMagick.
#
#   bash scripts/screens.sh [OUTDIR]
#   ORVAN_XVFB_DISPLAY=:92 ORVAN_BUILD_DIR=build bash scripts/screens.sh
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-screens}
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
SCREEN=${ORVAN_XVFB_DISPLAY:-:92}
mkdir -p "$OUT"
WORK=$(mktemp -d)
XVFB=
VIEWER=
cleanup() {
  if [ -n "$VIEWER" ]; then kill "$VIEWER" 2>/dev/null || true; fi
  if [ -n "$XVFB" ]; then kill "$XVFB" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

"$BUILD_DIR/tools/orvan-mkdisk" -o "$WORK/screens.img" --duration 120 --seed 1 >/dev/null
Xvfb "$SCREEN" -screen 0 1280x1024x24 >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$SCREEN
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$BUILD_DIR/app/orvan-viewer" \
  --image "$WORK/screens.img" --hdd >"$WORK/viewer.log" 2>&1 &
VIEWER=$!

# The windows named NAME that are shown, waiting up to 20 s for COUNT
# (default 1) of them; prints the last one.
window() {
  local ids
  for _ in $(seq 200); do
    ids=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null || true)
    if [ "$(echo "$ids" | grep -c .)" -ge "${2:-1}" ]; then
      echo "$ids" | tail -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "no window named \"$1\" was shown" >&2
  cat "$WORK/viewer.log" >&2
  return 1
}
# click WINDOW X Y: a left click at X, Y of the window.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# The save dialog that opens: PATH into its name field, then Save.
choose_file() {
  local dialog
  dialog=$(window "Save As")
  xdotool windowfocus --sync "$dialog"
  xdotool key ctrl+a
  xdotool type "$1"
  xdotool key Return
}
grab() {
  import -window root -crop 1180x600+0+0 "$OUT/$1"
  echo "saved $OUT/$1"
}

MAIN=$(window "ORVAN Viewer")
# The main window's controls sit in its client area, below the menu bar.
eval "$(xdotool getwindowgeometry --shell "$MAIN")"
TOP=$((HEIGHT - 559))
sleep 3 # the sample plays

# Backup group: SaveAVI; the indicator shows while it saves.
click "$MAIN" 777 $((TOP + 218))
choose_file "$WORK/saving.avi"
SAVE=$(window "Save")
sleep 3.5
grab saving.png
click "$SAVE" 108 76 # its StopAVI panel ends the saving

# Backup group: Copy. It asks whether to stop the playing disk (Yes is the
# default); the copy window's Save copies the whole recorded span.
sleep 1
click "$MAIN" 837 $((TOP + 218))
sleep 1
xdotool key Return
COPY=$(window "Copy")
click "$COPY" 61 132
choose_file "$WORK/copy.in"
sleep 0.3
grab copying.png
# "Copy data complete!!" comes in a second window named Copy.
window "Copy" 2 >/dev/null
xdotool key Return
sleep 0.5
click "$COPY" 265 132
