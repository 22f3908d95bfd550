#!/usr/bin/env bash
# Runs one split job through the desktop program as a user at the keyboard
# would: starts PROGRAM with ARGS, types 3, 5 and "kayit" into Form1's fields,
# presses Yaz, and checks the test1.txt that appears in FOLDER. Needs an X
# display: run it under xvfb-run.
# Usage: xvfb-run -a scripts/drive-split.sh FOLDER PROGRAM [ARGS...]
set -euo pipefail
folder=$1; shift
printf 'Ayşe Izmir00042\nCan  Bursa00107\n' >"$folder/kayit.txt"
rm -f "$folder/test1.txt"

QT_QPA_PLATFORM=xcb "$@" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Form1$' | head -n1)
[ -n "$window" ] || { echo "drive-split: Form1 did not appear" >&2; exit 1; }
# Without a window manager nothing gives a new window the keyboard.
xdotool windowfocus --sync "$window"
# The focus starts on Yaz; Tab leads through Data Sayısı, Data Uzunluğu and
# Dosya Adı.
xdotool key --delay 50 Tab type --delay 50 3
xdotool key --delay 50 Tab type --delay 50 5
xdotool key --delay 50 Tab type --delay 50 kayit
xdotool key --delay 50 shift+Tab shift+Tab shift+Tab space

for _ in $(seq 100); do
  [ -e "$folder/test1.txt" ] && break
  sleep 0.1
done
if ! printf 'Ayşe \nIzmir\n00042\nCan  \nBursa\n00107\n' | cmp -s - "$folder/test1.txt"; then
  echo "drive-split: $folder/test1.txt is not the split of kayit.txt:" >&2
  cat "$folder/test1.txt" >&2 2>/dev/null || echo "(missing)" >&2
  exit 1
fi
echo "drive-split: Yaz wrote $folder/test1.txt"
