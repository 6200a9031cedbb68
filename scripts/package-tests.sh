#!/usr/bin/env bash
# Builds the Debian packages from the optimised tree (build/release, the one scripts/run.sh
# and scripts/test.sh build) and checks them as a user would meet them:
#   1. `cmake --install` into a scratch prefix, icons at their sizes;
#   2. `cpack -G DEB`: each package holds the files expected of it, and the two together
#      hold exactly what `cmake --install` installs; Qt comes from shlibdeps;
#   3. lintian: errors fail, warnings are shown (the README says why they stay);
#   4. both packages unpacked into a scratch root: the console's libraries all resolve,
#      the desktop entry validates;
#   5. the README's example is examples/read_housing.cpp, which is built against the
#      unpacked library package and run against the unpacked device simulator.
# Part of scripts/test.sh; runs alone too (after scripts/install-deps.sh --tests).
set -euo pipefail

tree=build/release
work=build/package

# Builds the tree and installs it into $work/install/usr.
install_tree() {
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVI_TESTS=OFF >/dev/null
    cmake --build "$tree" -j "${JOBS:-$(nproc)}"
    rm -rf "$work"
    mkdir -p "$work"
    cmake --install "$tree" --prefix "$PWD/$work/install/usr" >/dev/null
    local side
    for side in 16 22 24 32 48 64 128 256; do
        file "$work/install/usr/share/icons/hicolor/${side}x$side/apps/orvi-console.png" |
            grep -q "PNG image data, $side x $side," || fail "no ${side}x$side icon"
    done
}

fail() {
    echo "package check failed: $*" >&2
    exit 1
}

# The regular files (and links) a package holds, without the leading "."
package_files() {
    dpkg-deb -c "$1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort
}

check_contents() {
    local console=$1 dev=$2
    local expected=(
        /usr/bin/orvi_console
        /usr/bin/orvi_device_sim
        /usr/share/applications/orvi-console.desktop
        /usr/share/doc/orvi-console/99-orvi.rules.example
        /usr/share/doc/orvi-console/README.md
        /usr/share/doc/orvi-console/changelog.gz
        /usr/share/doc/orvi-console/copyright
    )
    local side
    for side in 16 22 24 32 48 64 128 256; do
        expected+=("/usr/share/icons/hicolor/${side}x$side/apps/orvi-console.png")
    done
    diff <(printf '%s\n' "${expected[@]}" | sort) <(package_files "$console") ||
        fail "orvi-console does not hold the expected files"
    local f
    for f in include/orvi/serial/ComPort.h include/orvi/platform/MessageTarget.h \
        include/orvi/serial/dispatch/BaseDispatcher.h lib/liborvi_comport.a \
        lib/liborvi_dispatch.a lib/liborvi_serial_errors.a lib/liborvi_platform.a \
        lib/cmake/OrviSerial/OrviSerialConfig.cmake share/doc/liborvi-serial-dev/copyright; do
        package_files "$dev" | grep -qx "/usr/$f" || fail "liborvi-serial-dev has no /usr/$f"
    done
    diff <(cd "$work/install" && find . ! -type d | sed 's/^\.//' | sort) \
        <(sort <(package_files "$console") <(package_files "$dev")) ||
        fail "the packages and cmake --install differ"
    dpkg-deb -f "$console" Depends | grep -q 'libqt6widgets6' ||
        fail "orvi-console does not depend on Qt's libraries"
}

check_unpacked() {
    local root=$work/root
    dpkg -x "$1" "$root"
    dpkg -x "$2" "$root"
    local libraries
    libraries=$(ldd "$root/usr/bin/orvi_console")
    if grep -q 'not found' <<<"$libraries"; then
        echo "$libraries"
        fail "the console's libraries do not all resolve"
    fi
    desktop-file-validate "$root/usr/share/applications/orvi-console.desktop"
}

# The code block of the README's section on the serial component, as the file it shows.
check_readme_example() {
    awk '/^## Using the serial component/ { section = 1 }
         section && /^```cpp/ { code = 1; next }
         code && /^```/ { exit }
         code { print }' README.md | diff - examples/read_housing.cpp ||
        fail "the README's example differs from examples/read_housing.cpp"
}

# Builds the example against the unpacked library and runs it against the unpacked
# simulator on COM5 in a port folder of its own.
run_example() {
    local root=$PWD/$work/root
    cmake -S examples -B "$work/example" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
        -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
    cmake --build "$work/example"
    local ports=$work/ports
    mkdir -p "$ports"
    "$root/usr/bin/orvi_device_sim" --port 5 --port-dir "$ports" >"$work/simulator.log" &
    local sim=$!
    local _
    for _ in $(seq 100); do
        [ -e "$ports/COM5" ] && break
        sleep 0.05
    done
    local reply status=0
    reply=$(ORVI_PORT_DIR=$ports "$work/example/read_housing") || status=$?
    kill "$sim"
    wait "$sim" || true
    echo "example: $reply"
    [ "$status" -eq 0 ] || fail "the example failed"
    [[ $reply =~ ^reply:( [0-9A-F]{2}){20}$ ]] || fail "the example printed no 20-byte reply"
    grep -q 'Requests: 1 housing, 0 sensor, 0 flash; replies sent: 1;' "$work/simulator.log" ||
        fail "the simulator did not answer one housing request"
}

main() {
    cd "$(dirname "$0")/.."
    local start=$SECONDS
    install_tree
    cpack -G DEB --config "$tree/CPackConfig.cmake" -B "$work/debs" >/dev/null
    local console dev
    console=$(echo "$work"/debs/orvi-console_*_*.deb)
    dev=$(echo "$work"/debs/liborvi-serial-dev_*_*.deb)
    check_contents "$console" "$dev"
    lintian --fail-on error "$console" "$dev"
    check_unpacked "$console" "$dev"
    check_readme_example
    run_example
    echo "package checks passed in $((SECONDS - start)) s: $console $dev"
}

main "$@"
