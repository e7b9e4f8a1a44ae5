#!/usr/bin/env bash
# The main job: shows the indicator. On $DISPLAY when it is set; otherwise on a private virtual
# display with a window manager, saving a screenshot to artifacts/demo.png.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
bash scripts/build.sh > /dev/null
cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-native -j 2 --target nativeui_demo > /dev/null

if [ -n "${DISPLAY:-}" ]; then
  exec build-native/nativeui_demo "${1:-5}"
fi

mkdir -p artifacts
exec {ready}<> <(:)
tests/rig/xserver xorg 3>&"$ready" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null' EXIT
read -r -t 20 number <&"$ready"
export DISPLAY=":$number"
xrandr --output DUMMY0 --mode 1920x1080 --pos 0x0 >/dev/null
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm $server 2>/dev/null; wait $server 2>/dev/null' EXIT
build-native/nativeui_demo 2 &
demo=$!
sleep 1
import -window root -crop 1920x1080+0+0 artifacts/demo.png
wait $demo
echo "screenshot: artifacts/demo.png"
