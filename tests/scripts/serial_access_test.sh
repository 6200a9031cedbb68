#!/usr/bin/env bash
# check_serial_access (scripts/serial-access.sh) as the user "nobody", on files standing in
# for device nodes: a device that nobody may open passes silently; one they may not is named
# with the usermod command; when nobody's groups already hold the device's group but the
# session does not, the fix is a new login instead; when the session holds the group, the
# group's permissions are what is missing. Needs root to act as nobody; skipped
# (exit 77) otherwise.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: needs root to run the check as another user"
    exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
chmod 755 "$dir"
# A copy that nobody can read wherever the work tree lies.
script=$dir/serial-access.sh
install -m 0644 "$(dirname "$0")/../../scripts/serial-access.sh" "$script"
install -m 0666 /dev/null "$dir/ttyUSB0"                 # open to everyone
install -m 0660 -g dialout /dev/null "$dir/ttyUSB1"      # dialout only
install -m 0660 -g nogroup /dev/null "$dir/ttyACM0"      # nobody's own group
install -m 0640 -g nogroup /dev/null "$dir/ttyACM1"      # nobody's group may only read

# Runs the check as nobody with the given group and supplementary groups of the session;
# prints what it said and "rc=N".
as_nobody() {
    local group=$1 groups=$2
    shift 2
    setpriv --reuid=nobody --regid="$group" --groups="$groups" -- \
        bash -c 'source "$0"; check_serial_access "$@" 2>&1 && echo rc=0 || echo rc=$?' \
        "$script" "$@"
}

failures=0
expect() {
    local name=$1 output=$2 pattern=$3
    if grep -qzP "$pattern" <<<"$output"; then
        echo "ok: $name"
    else
        echo "FAILED: $name"
        echo "  expected /$pattern/, got:"
        sed 's/^/    /' <<<"$output"
        failures=$((failures + 1))
    fi
}

out=$(as_nobody nogroup nogroup "$dir/ttyUSB0" "$dir/ttyACM0" "$dir/ttyACM9")
expect "usable and missing devices pass silently" "$out" '^rc=0\n$'

out=$(as_nobody nogroup nogroup "$dir/ttyUSB0" "$dir/ttyUSB1" "$dir/ttyACM0")
expect "only the device that cannot be opened is named, with the usermod fix" "$out" \
    "^\Q$dir/ttyUSB1\E: this user cannot open it, so \"Старт\" will end in \"COM-порт не найден!\".\n\
Give yourself access to the group dialout once, then log out and in again:\n\
    sudo usermod -aG dialout \"\\\$USER\"\nrc=1\n$"

out=$(as_nobody dialout dialout "$dir/ttyUSB1" "$dir/ttyACM0")
expect "a group held in the user database but not the session needs a new login" "$out" \
    "^\Q$dir/ttyACM0\E: this user cannot open it[^\n]*\n\
You are in the group nogroup, but this login session is older: log out and in again.\nrc=1\n$"

out=$(as_nobody nogroup nogroup "$dir/ttyACM0" "$dir/ttyACM1")
expect "a group that may only read is named as the problem" "$out" \
    "^\Q$dir/ttyACM1\E: this user cannot open it[^\n]*\n\
The group nogroup may not read and write it: a udev rule with GROUP=\"dialout\", MODE=\"0660\" \
fixes that \\(see 99-orvi.rules.example\\).\nrc=1\n$"

echo "$((4 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
