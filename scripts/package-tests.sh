#!/usr/bin/env bash
# Builds the Debian packages from the optimised tree (build/release, the one scripts/run.sh
# and scripts/test.sh build) and checks them as a user would meet them:
#   1. `cmake --install` into a scratch prefix, icons at their sizes;
#   2. `cpack -G DEB`: each package holds the files expected of it (the five programs, a
#      man page each, the desktop entries, icons and metainfo, the acquirer's and the
#      collector's units and the acquirer's MQTT drop-in), and the
#      two together hold exactly what `cmake --install` installs; Qt comes from shlibdeps;
#   3. lintian: any tag fails, pedantic and experimental ones too (a program without a man
#      page, a unit without hardening); information tags are not shown;
#   4. both packages unpacked into a scratch root: the programs' libraries all resolve (the
#      acquirer's without Qt), the desktop entries and metainfo validate, the man pages
#      format without a warning, and systemd verifies the units (an acquirer instance with
#      and without the MQTT drop-in, the collector) and rates their hardening;
#   5. the README's example is examples/read_housing.cpp, which is built against the
#      unpacked library package and run against the unpacked device simulator.
# Part of scripts/test.sh; runs alone too (after scripts/install-deps.sh --tests).
set -euo pipefail

tree=build/release
work=build/package
programs=(orvi_console orvi_device_sim orvi_viewer orvi_acquire orvi_collect)
unit=orvi-acquire@.service
collect_unit=orvi-collect.service
mqtt_dropin=orvi-acquire-mqtt.conf

# Builds the tree and installs it into $work/install/usr.
install_tree() {
    # scripts/test.sh builds the tests in this tree too (ORVI_TESTS=ON); alone, they are left out.
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVI_TESTS="${ORVI_TESTS:-OFF}" >/dev/null
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
    local held program
    held=$(package_files "$console")
    for program in "${programs[@]}"; do
        grep -qx "/usr/bin/$program" <<<"$held" || fail "orvi-console has no /usr/bin/$program"
        grep -qx "/usr/share/man/man1/$program.1.gz" <<<"$held" ||
            fail "orvi-console has no man page for $program (packaging/man/$program.1)"
    done
    local expected=(
        /usr/share/applications/orvi-console.desktop
        /usr/share/applications/orvi-viewer.desktop
        /usr/share/icons/hicolor/scalable/apps/orvi-viewer.svg
        /usr/share/metainfo/org.orvi.console.metainfo.xml
        /usr/share/metainfo/org.orvi.viewer.metainfo.xml
        "/usr/lib/systemd/system/$unit"
        "/usr/lib/systemd/system/$collect_unit"
        "/usr/share/orvi-console/$mqtt_dropin"
        /usr/share/doc/orvi-console/99-orvi.rules.example
        /usr/share/doc/orvi-console/README.md
        /usr/share/doc/orvi-console/changelog.gz
        /usr/share/doc/orvi-console/copyright
    )
    for program in "${programs[@]}"; do
        expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
    done
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

# lintian fails on every tag it shows: errors, warnings, and the pedantic and experimental
# tags (a unit without hardening options is one); information tags are not shown (the
# README says which stay).
run_lintian() {
    lintian --pedantic --display-experimental \
        --fail-on error,warning,pedantic,experimental "$@" || fail "lintian tags the packages"
}

check_unpacked() {
    local root=$work/root
    dpkg -x "$1" "$root"
    dpkg -x "$2" "$root"
    local program libraries
    for program in "${programs[@]}"; do
        libraries=$(ldd "$root/usr/bin/$program")
        if grep -q 'not found' <<<"$libraries"; then
            echo "$libraries"
            fail "the libraries of $program do not all resolve"
        fi
        if [[ $program =~ ^orvi_(acquire|collect)$ ]] && grep 'libQt' <<<"$libraries"; then
            fail "$program links Qt"
        fi
    done
    local kind
    kind=$(file -b "$root/usr/share/icons/hicolor/scalable/apps/orvi-viewer.svg")
    [[ $kind == SVG* ]] || fail "the viewer's icon is no SVG picture: $kind"
    # Hints count too: an entry passes with no remark at all.
    local entry report
    for entry in orvi-console orvi-viewer; do
        report=$(desktop-file-validate "$root/usr/share/applications/$entry.desktop" 2>&1) ||
            fail "$entry.desktop does not validate: $report"
        [ -z "$report" ] || fail "desktop-file-validate has remarks on $entry.desktop: $report"
    done
    check_metainfo "$root"
    check_man_pages "$root"
    check_unit "$root"
}

# Each metainfo file alone, pedantically, then the tree as a software centre reads it
# (every metainfo file's launchable is a desktop entry there).
check_metainfo() {
    local root=$1 file report
    for file in "$root"/usr/share/metainfo/*.metainfo.xml; do
        report=$(appstreamcli validate --no-net --pedantic "$file" 2>&1) ||
            fail "$(basename "$file") does not validate: $report"
        ! grep -E '^ *[EWIP]: ' <<<"$report" || fail "appstreamcli has remarks on $(basename "$file")"
    done
    report=$(appstreamcli validate-tree --no-net --pedantic "$root" 2>&1) ||
        fail "the unpacked tree's metainfo does not validate: $report"
    ! grep -E '^ *[EWIP]: ' <<<"$report" || fail "appstreamcli has remarks on the unpacked tree"
}

# As lintian formats a page: any warning from man, groff or preconv fails.
check_man_pages() {
    local root=$1 page warnings
    for page in "$root"/usr/share/man/man1/*.1.gz; do
        warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
            man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
    done
}

# systemd-analyze checks the units in a root of its own: the unpacked packages, the host's
# units for the targets they pull in, and kill for ExecReload. The executables are looked up
# in that root and the Documentation= pages by man, in the root's pages. Any remark fails
# (an unknown key is only a remark). The acquirer: two instances, a port name and an escaped
# device path, the second with the MQTT drop-in as the README links it; the collector.
# The drop-in's and the collector's environment files are examples written into the root.
check_unit() {
    local root=$work/unit-root
    rm -rf "$root"
    cp -a "$1" "$root"
    cp -an /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/"
    cp "$(type -P kill)" "$root/usr/bin/"
    local device
    device=$(systemd-escape /dev/ttyUSB0)
    local instances=("${unit/@/@COM5}" "${unit/@/@$device}")
    local dropins=$root/etc/systemd/system/${instances[1]}.d
    mkdir -p "$dropins" "$root/etc/orvi-acquire"
    # A copy: systemd-analyze does not follow the README's absolute link inside --root.
    cp "$root/usr/share/orvi-console/$mqtt_dropin" "$dropins/"
    echo "ORVI_MQTT_URL=mqtt://broker.lab/lab/stand1" >"$root/etc/orvi-acquire/$device.conf"
    echo "ORVI_COLLECT_URL=mqtt://broker.lab/lab" >"$root/etc/orvi-collect.conf"
    local report status=0
    report=$(MANPATH=$root/usr/share/man \
        systemd-analyze --root="$root" verify "${instances[@]}" "$collect_unit" 2>&1) || status=$?
    if [ "$status" -ne 0 ] || [ -n "$report" ]; then
        fail "systemd-analyze verify: $report"
    fi
    # An exposure of at most 1.0 on systemd's scale of 0 to 10 (the threshold is tenths) for
    # the plain acquirer; the ones on the network are shown.
    report=$(systemd-analyze security --offline=true --threshold=10 --root="$root" \
        "${instances[0]}" 2>&1) || fail "the unit's hardening: $report"
    grep 'Overall exposure' <<<"$report"
    local other
    for other in "${instances[1]}" "$collect_unit"; do
        report=$(systemd-analyze security --offline=true --root="$root" "$other" 2>&1) || true
        echo "$other: $(grep 'Overall exposure' <<<"$report")"
    done
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
    run_lintian "$console" "$dev"
    check_unpacked "$console" "$dev"
    check_readme_example
    run_example
    echo "package checks passed in $((SECONDS - start)) s: $console $dev"
}

main "$@"
