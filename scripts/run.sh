#!/usr/bin/env bash
# Builds and starts the console. When no USB-serial adapter is attached (no /dev/ttyUSB*
# or /dev/ttyACM*), a simulated device is started first on a pseudo-terminal linked as
# COM5 in a temporary port folder, so that "Старт" finds it and shows moving readings;
# the simulator stops when the console exits. Options for the simulator can be given in
# ORVI_SIM_OPTIONS (see build/release/tools/simulator/orvi_device_sim --help). An adapter
# that this user may not open is reported before the console starts, with the fix.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DORVI_TESTS=OFF -DORVI_BENCHMARKS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target orvi_console_program orvi_device_sim

console=build/release/app/orvi_console
simulator=build/release/tools/simulator/orvi_device_sim

sim_pid=""
port_dir=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ -n "$port_dir" ]; then
        rm -rf "$port_dir"
    fi
}
trap cleanup EXIT

source scripts/serial-access.sh
if ls /dev/ttyUSB* /dev/ttyACM* >/dev/null 2>&1; then
    check_serial_access /dev/ttyUSB* /dev/ttyACM* || true
else
    port_dir=$(mktemp -d)
    # shellcheck disable=SC2086 # the options are meant to split into words
    "$simulator" --port 5 --port-dir "$port_dir" ${ORVI_SIM_OPTIONS:-} &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$port_dir/COM5" ] && break
        kill -0 "$sim_pid" 2>/dev/null || { echo "The device simulator did not start." >&2; exit 1; }
        sleep 0.05
    done
    export ORVI_PORT_DIR="$port_dir"
fi

"$console"
