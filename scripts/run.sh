#!/usr/bin/env bash
# Sets everything up, builds, and opens the main window of LectureInfoTalvino on a simulated
# Talvino device: talvino-sim serves the device on a pseudo-terminal registered as the maker's
# adapter in a private port map, so the read button is ready at once. Closing the window stops
# the simulator. Without a display, says so and reads the simulated device once on the console.
# Options are handed to talvino-sim: ./scripts/run.sh --serial 42 --software 2.10 (or --silent,
# --type X12 for a device of another type).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build

work=$(mktemp -d)
# The simulator's ports go into this map only: nothing of the user's own map is touched. The
# program finds the simulator through the same variable.
export TALVINO_PORT_MAP="$work/map"
sim_pid=
stop() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid"
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap stop EXIT

coproc SIM { exec build/sim/talvino_sim/talvino-sim --maker-adapter "$@"; }
sim_pid=$SIM_PID
ready=
if ! IFS= read -r -t 10 ready <&"${SIM[0]}" || [[ ! $ready =~ COM([0-9]+) ]]; then
    echo "run: talvino-sim did not get ready" >&2
    exit 1
fi
com=${BASH_REMATCH[1]}
echo "$ready"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the main window; press \"Lecture des informations\" to read COM$com, close the window to stop."
    build/app/LectureInfoTalvino
    exit 0
fi

echo "run: no display: run it from a desktop session, or under xvfb-run ./scripts/run.sh; reading COM$com on the console instead:"
build/app/read/talvino-read --port "$com"
