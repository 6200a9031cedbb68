#!/usr/bin/env bash
# The Windows build of the serial stack, tested under wine:
#   1. builds the Linux-side peers (device simulator, orvi_wine_peer) in build/wine-native;
#   2. cross-compiles the Qt-free targets and their tests with mingw-w64 in build/win64;
#   3. prepares a private wine prefix (build/wine-prefix, created once and kept), keeps
#      one wineserver running, links the peers' pseudo-terminals as COM ports of the
#      prefix and writes the serial device map into its registry;
#   4. runs ctest in the cross tree (each test through wine);
#   5. always ends the peers and the wineserver.
# The Windows tests find their peers through the ORVI_WINE_* variables below. Arguments
# go to ctest: scripts/wine-tests.sh -R win32_dispatcher --repeat until-fail:20
set -euo pipefail

# Port numbers of the peers, fixed here and handed to the tests.
export ORVI_WINE_SIM_PORT=5     # the device simulator: 7-byte requests, 20-byte replies
export ORVI_WINE_ECHO_PORT=6    # sends back what it receives
export ORVI_WINE_SINK_PORT=7    # never reads
export ORVI_WINE_CHATTER_PORT=8 # sends all the time, discards what it receives
export ORVI_WINE_MISSING_PORT=9 # no device behind it
export ORVI_WINE_UNPLUG_PORT=10 # echoes; on "UNPLUG!" goes away, then comes back anew
linked_ports="$ORVI_WINE_SIM_PORT $ORVI_WINE_ECHO_PORT $ORVI_WINE_SINK_PORT $ORVI_WINE_CHATTER_PORT"
# Ports whose pseudo-terminal the peer replaces: the prefix links to the peer's link,
# which always names the current one.
relinked_ports="$ORVI_WINE_UNPLUG_PORT"

export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" # no .NET or Gecko installers in the prefix

peer_pids=()

build_trees() {
    echo "== wine: building the Linux-side peers"
    cmake -S . -B "$native" -G Ninja -DORVI_GUI=OFF -DORVI_BENCHMARKS=OFF >/dev/null
    cmake --build "$native" -j "$jobs" --target orvi_device_sim orvi_wine_peer

    echo "== wine: cross-compiling for Windows (mingw-w64)"
    cmake -S . -B "$cross" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
        -DORVI_BENCHMARKS=OFF >/dev/null
    cmake --build "$cross" -j "$jobs"
}

# One server for every test: the registry's HARDWARE branch lives only as long as it.
# A server left over from an interrupted run of this prefix is ended first.
start_wine() {
    echo "== wine: prefix $WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wine" wineboot -i >/dev/null 2>&1
    fi
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    "$wineserver" -p >"$cross/wineserver.log" 2>&1
}

start_peers() {
    rm -rf "$ports"
    mkdir -p "$ports"
    "$native/tools/simulator/orvi_device_sim" --port "$ORVI_WINE_SIM_PORT" --port-dir "$ports" \
        >"$cross/simulator.log" 2>&1 &
    peer_pids+=($!)
    "$native/tests/win32/orvi_wine_peer" --port-dir "$ports" "echo:$ORVI_WINE_ECHO_PORT" \
        "sink:$ORVI_WINE_SINK_PORT" "chatter:$ORVI_WINE_CHATTER_PORT" \
        "unplug:$ORVI_WINE_UNPLUG_PORT" >"$cross/peer.log" 2>&1 &
    peer_pids+=($!)
    for n in $linked_ports $relinked_ports; do
        for _ in $(seq 100); do
            [ -L "$ports/COM$n" ] && break
            sleep 0.05
        done
        [ -L "$ports/COM$n" ] || { echo "no peer on COM$n"; cat "$cross"/*.log; exit 1; }
    done
}

# Wine opens "\\.\COMn" through the lower-case link dosdevices/comn.
link_ports() {
    for n in $linked_ports $relinked_ports $ORVI_WINE_MISSING_PORT; do
        rm -f "$WINEPREFIX/dosdevices/com$n"
    done
    for n in $linked_ports; do
        ln -s "$(readlink "$ports/COM$n")" "$WINEPREFIX/dosdevices/com$n"
    done
    for n in $relinked_ports; do
        ln -s "$ports/COM$n" "$WINEPREFIX/dosdevices/com$n"
    done
}

# The serial device map as a USB-serial adapter leaves it: the first value names a
# port that cannot be opened, the second the simulator.
write_device_map() {
    local map='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
    "$wine" reg add "$map" /v '\Device\USBSER000' /d "COM$ORVI_WINE_MISSING_PORT" /f >/dev/null
    "$wine" reg add "$map" /v '\Device\USBSER001' /d "COM$ORVI_WINE_SIM_PORT" /f >/dev/null
}

cleanup() {
    for pid in "${peer_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${peer_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    "$wineserver" -k 2>/dev/null || true
}

# The whole script is one function, read before it runs, so editing the file during
# a run cannot change what the run does.
main() {
    cd "$(dirname "$0")/.."
    root=$PWD
    jobs=${JOBS:-2}
    native=$root/build/wine-native
    cross=$root/build/win64
    ports=$cross/ports
    export WINEPREFIX=$root/build/wine-prefix
    wine=$(command -v /usr/lib/wine/wine64 || command -v wine64 || command -v wine)
    wineserver=$(command -v /usr/lib/wine/wineserver || command -v wineserver)

    build_trees
    trap cleanup EXIT
    start_wine
    start_peers
    link_ports
    write_device_map

    echo "== wine: running the Windows tests"
    ctest --test-dir "$cross" --output-on-failure "$@"
}

main "$@"
