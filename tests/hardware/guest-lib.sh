# shellcheck shell=bash
# Functions for a command in the guest of run-in-guest.sh (sourced; the
# guest sources it before the command, and a script run there may source it
# again). Card i (0, 1, ...) is the gadget kv<i> on the controller
# dummy_udc.<i>: its device side is the f_midi card the simulated module
# reads and writes; its host side is the USB-MIDI card that snd-usb-audio
# makes, which is what a user's computer would see.
#
#   kv_setup_cards N         loads the modules and plugs in N gadgets
#   kv_wait_host_card I [S]  waits (up to S seconds, default 10) for card I's host side
#   kv_wait_device_card I [S] the same for its device side
#   kv_unplug I / kv_plug I  takes the gadget off its controller and puts it back
#                            (the host sees the device leave and enumerate again)
#   kv_host_card I           the host side's card number (empty while it is away)
#   kv_device_card I         the device side's card number
#   kv_host_hw I             "hw:C,0,0" of the host side
#   kv_device_node I         the device side's raw MIDI node, /dev/snd/midiCcD0
#   kv_seq_client I          the host side's sequencer client number
#   kv_product I             the product name the gadget gives

kv_gadgets=/sys/kernel/config/usb_gadget

kv_product() { echo "Rig Module $(($1 + 1))"; }

kv_setup_cards() {
    local n=${1:-1} i g
    [ "$n" -gt 0 ] || return 0
    modprobe dummy_hcd num="$n" || return 1
    modprobe libcomposite && modprobe usb_f_midi || return 1
    mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config || return 1
    # The host side first, so that each gadget is taken as soon as it is plugged in.
    modprobe snd-usb-audio && modprobe snd-seq && modprobe snd-seq-midi || return 1
    for ((i = 0; i < n; i++)); do
        g=$kv_gadgets/kv$i
        mkdir -p "$g/strings/0x409" "$g/functions/midi.usb0" "$g/configs/c.1/strings/0x409" || return 1
        echo 0x1209 >"$g/idVendor"
        printf '0x%04x\n' $((0x7a00 + i)) >"$g/idProduct"
        echo 0x0200 >"$g/bcdUSB"
        echo "Kestrava" >"$g/strings/0x409/manufacturer"
        kv_product "$i" >"$g/strings/0x409/product"
        echo "KV$i" >"$g/strings/0x409/serialnumber"
        echo "KVDevice$i" >"$g/functions/midi.usb0/id"
        echo 1 >"$g/functions/midi.usb0/in_ports"
        echo 1 >"$g/functions/midi.usb0/out_ports"
        echo "MIDI" >"$g/configs/c.1/strings/0x409/configuration"
        ln -s "$g/functions/midi.usb0" "$g/configs/c.1/" || return 1
        kv_plug "$i" || return 1
    done
    for ((i = 0; i < n; i++)); do
        kv_wait_host_card "$i" 20 || { echo "guest-lib: card $i did not appear on the host side" >&2; return 1; }
    done
}

kv_plug()   { echo "dummy_udc.$1" >"$kv_gadgets/kv$1/UDC"; }
kv_unplug() { echo "" >"$kv_gadgets/kv$1/UDC"; }

# kv_card_under <sysfs device name>: the sound card whose device lies below it.
kv_card_under() {
    local c path
    for c in /sys/class/sound/card*; do
        [ -e "$c/device" ] || continue
        path=$(readlink -f "$c/device")
        case "$path" in
            */"$1"/*) echo "${c##*/card}"; return 0 ;;
        esac
    done
    return 1
}

kv_host_card()   { kv_card_under "dummy_hcd.$1"; }
kv_device_card() { kv_card_under "dummy_udc.$1"; }
kv_host_hw()     { local c; c=$(kv_host_card "$1") && echo "hw:$c,0,0"; }
kv_device_node() { local c; c=$(kv_device_card "$1") && echo "/dev/snd/midiC${c}D0"; }

kv_seq_client() {
    local c
    c=$(kv_host_card "$1") || return 1
    aconnect -l 2>/dev/null | sed -n "s/^client \([0-9]*\): .*card=$c\]\$/\1/p" | head -n1 | grep .
}

# kv_wait <seconds> <command...>: polls the command every 0.1 s until it succeeds.
kv_wait() {
    local end=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

kv_host_ready() {
    local c
    c=$(kv_host_card "$1") && [ -e "/dev/snd/midiC${c}D0" ] && kv_seq_client "$1"
}
kv_device_ready() { local n; n=$(kv_device_node "$1") && [ -e "$n" ]; }

kv_wait_host_card()   { kv_wait "${2:-10}" kv_host_ready "$1"; }
kv_wait_device_card() { kv_wait "${2:-10}" kv_device_ready "$1"; }
