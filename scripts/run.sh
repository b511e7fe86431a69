#!/usr/bin/env bash
# Sets up the machine, builds the station and its instrument simulator, then runs
# both: the simulator streams a breathing trace on a new pseudo-terminal and the
# station opens capturing from it. Closing the station stops
# the simulator. Without a display the station runs under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target station simulateur

# The simulator prints the port to use on its first line, then streams until stopped.
fifo=$(mktemp -u)
mkfifo "$fifo"
build/tools/simulateur --serve > "$fifo" &
simulator=$!
trap 'kill "$simulator" 2>/dev/null || true; rm -f "$fifo"' EXIT
read -r port < "$fifo"
cat "$fifo" > /dev/null &

echo "La station capture depuis le simulateur, sur $port"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  build/app/station --capturer "$port"
else
  xvfb-run -a -s "-screen 0 1600x1000x24" build/app/station --capturer "$port"
fi
