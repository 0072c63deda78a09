#!/usr/bin/env bash
# Sets everything up, builds, and reads the simulated Talvino device once through the device
# link: talvino-sim serves the device on a pseudo-terminal registered as the maker's adapter in
# a private port map, and talvino-read prints one line per step with its LinkResult.
# Options are handed to talvino-sim: ./scripts/run.sh --serial 42 --software 2.10 (or --silent).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build

work=$(mktemp -d)
# The simulator's ports go into this map only: nothing of the user's own map is touched.
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
echo "Reading COM$com:"
build/bench/link/talvino-read "COM$com"
