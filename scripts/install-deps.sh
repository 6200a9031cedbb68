#!/usr/bin/env bash
# Installs the Debian 12 packages that are missing, and skips apt entirely when none is.
#   install-deps.sh          what building and running the console needs (scripts/run.sh)
#   install-deps.sh --tests  that, and what the tests add on top: GoogleTest, the benchmark
#                            library, clang for the fuzzers, mingw-w64 and Wine for the Windows
#                            build, Xvfb for screenshots, the package checks (lintian, the
#                            desktop entry, AppStream, man page and systemd unit checkers),
#                            and the MQTT broker and clients and openssl of the MQTT tests
#                            (scripts/test.sh)
set -euo pipefail

run_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-svg-dev qt6-translations-l10n
    libmosquitto-dev libsystemd-dev nlohmann-json3-dev
    fonts-dejavu-core fonts-liberation
)
test_packages=(
    libgtest-dev googletest libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth
    g++-mingw-w64-x86-64 wine64 wine
    dpkg-dev file lintian desktop-file-utils
    appstream systemd man-db groff-base procps
    mosquitto mosquitto-clients openssl
)

packages=("${run_packages[@]}")
case "${1:-}" in
"") ;;
--tests) packages+=("${test_packages[@]}") ;;
*)
    echo "usage: $0 [--tests]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
