#!/usr/bin/env bash
# The main job: shows the indicator. On $DISPLAY when it is set (until "Stop sharing" is pressed
# or Ctrl-C); otherwise on a private virtual display with a window manager, saving a screenshot
# to artifacts/demo.png and exiting.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
bash scripts/build.sh > /dev/null

if [ -n "${DISPLAY:-}" ]; then
  exec node scripts/demo.js
fi

mkdir -p artifacts
exec {ready}<> <(:)
tests/rig/xserver xvfb 1920x1080x24 3>&"$ready" 2>/dev/null &
server=$!
wm=
trap 'kill $wm $server 2>/dev/null; wait $server 2>/dev/null' EXIT
read -r -t 20 number <&"$ready"
export DISPLAY=":$number"
echo "private display $DISPLAY"
xsetroot -solid '#3b4252'
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done
node scripts/demo.js --screenshot artifacts/demo.png
