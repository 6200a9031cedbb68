# Sourced by scripts/run.sh (and its test): tells the user about USB-serial adapters that
# they cannot open, before the console would fail to find them.

# check_serial_access DEVICE...: for every device that exists but that this process cannot
# both read and write, names it, then says for the device's group (dialout on Debian) what
# is missing: the one command that puts the user into it, a new login when the user is in
# it already, or group permissions when this session holds the group and still cannot.
# Returns 1 when it warned, 0 otherwise.
check_serial_access() {
    local device group groups=() warned=0
    for device in "$@"; do
        [ -e "$device" ] || continue
        [ -r "$device" ] && [ -w "$device" ] && continue
        echo "$device: this user cannot open it, so \"Старт\" will end in \"COM-порт не найден!\"." >&2
        group=$(stat -L -c %G "$device")
        [[ " ${groups[*]} " == *" $group "* ]] || groups+=("$group")
        warned=1
    done
    local user
    user=$(id -un)
    for group in "${groups[@]}"; do
        if id -nG | tr ' ' '\n' | grep -qx "$group"; then
            echo "The group $group may not read and write it: a udev rule with" \
                "GROUP=\"dialout\", MODE=\"0660\" fixes that (see 99-orvi.rules.example)." >&2
        elif id -nG "$user" | tr ' ' '\n' | grep -qx "$group"; then
            echo "You are in the group $group, but this login session is older: log out and in again." >&2
        else
            echo "Give yourself access to the group $group once, then log out and in again:" >&2
            echo "    sudo usermod -aG $group \"\$USER\"" >&2
        fi
    done
    return "$warned"
}
