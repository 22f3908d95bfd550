#!/usr/bin/env bash
# Starts fwprep on a virtual X display and saves pictures of its two screens:
# form1.png as the program starts, form2.png after "Data File" is pressed from
# the keyboard (Shift+Tab from "Yaz" to "Data File", then Space).
# Usage: scripts/screenshots.sh [build folder, default build/ci] [output folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/ci}
out=${2:-$build/screenshots}
program=$build/app/fwprep
if [ ! -x "$program" ]; then
  echo "screenshots.sh: $program not found; build it first (cmake --build --preset ci)" >&2
  exit 1
fi
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool missing; run scripts/deps.sh" >&2; exit 1; }
done
mkdir -p "$out"

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Let the X server pick a free display and tell us its number.
Xvfb -displayfd 3 -screen 0 640x480x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshots.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

QT_QPA_PLATFORM=xcb "$program" &
app_pid=$!

window() { # the id of the shown window with this exact title
  timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n1
}
# Without a window manager nothing activates a new window; do what a desktop
# would, so that the pictures show where the keyboard focus is.
activate() {
  xdotool windowfocus --sync "$1"
  sleep 1 # let the window paint
}

form1=$(window Form1)
activate "$form1"
import -window "$form1" "$out/form1.png"

xdotool key --delay 100 shift+Tab space
form2=$(window Form2)
activate "$form2"
import -window "$form2" "$out/form2.png"
import -window root "$out/desktop.png"

echo "saved $out/form1.png, $out/form2.png and $out/desktop.png"
