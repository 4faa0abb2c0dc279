#!/usr/bin/env bash
# Boots a small Linux guest under QEMU and runs one command in it, on real
# USB-MIDI sound cards; the exit status is the command's.
#
#   run-in-guest.sh [options] [--] COMMAND [ARGS...]
#     --cards N        USB-MIDI cards to set up (default 1; 0: none)
#     --memory MIB     guest memory (default 768)
#     --cpus N         guest CPUs (default 1: boots fastest under TCG)
#     --time-limit S   the whole run, boot included, in seconds (default 300)
#     --share DIR      also makes DIR writable in the guest, at the same path (repeatable);
#                      the current folder is shared so when it lies in /tmp, /run or /dev
#
# The guest is Debian's own kernel (downloaded with apt-get, unpacked, never
# installed) with a busybox initramfs; both are kept in $KESTRAVA_VM_CACHE
# (default ~/.cache/kestrava-vm). Its root is this machine's root, read-only
# over 9p under a tmpfs overlay: every path, the project's build included,
# is where it is here, writes stay in the guest, and /tmp, /run, /dev are the
# guest's own. The command runs as root in the current folder, with the
# KESTRAVA_* variables of the caller; its output comes here as it is written.
#
# Each card is a USB gadget with a MIDI function on a dummy_hcd controller
# (the device side: the f_midi card) and, on the host side of the same
# controller, the USB-MIDI class card that snd-usb-audio makes, with its
# sequencer port (snd-seq-midi). tests/hardware/guest-lib.sh sets them up
# and has functions for the command (wait for a card, unplug and plug in a
# gadget, find its devices); the command can source it too.
#
# Exit status: the command's; 124 when the time limit ended the run; 125 when
# the guest could not be started or ended without a status.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cards=1
memory=768
cpus=1
limit=300
shares=()
while [ $# -gt 0 ]; do
    case "$1" in
        --cards) cards=$2; shift 2 ;;
        --memory) memory=$2; shift 2 ;;
        --cpus) cpus=$2; shift 2 ;;
        --time-limit) limit=$2; shift 2 ;;
        --share) shares+=("$(cd "$2" && pwd)"); shift 2 ;;
        --) shift; break ;;
        -*) echo "run-in-guest: unknown option $1" >&2; exit 125 ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "run-in-guest: no command given" >&2; exit 125; }
# The guest's /tmp, /run and /dev are its own: a current folder there (a
# checkout in /tmp, say) is shared into the guest first, so the command finds it.
case "$PWD/" in
    /tmp/*|/run/*|/dev/*) shares=("$PWD" ${shares[@]+"${shares[@]}"}) ;;
esac
case "$cards" in ''|*[!0-9]*) echo "run-in-guest: --cards takes a number" >&2; exit 125 ;; esac

say() { echo "run-in-guest: $*" >&2; }
die() { say "$*"; exit 125; }

for tool in qemu-system-x86_64 busybox depmod modprobe xz; do
    command -v "$tool" >/dev/null || die "$tool is not installed (run scripts/install-deps.sh)"
done
busybox_bin=$(command -v busybox)
# The initramfs has no libraries: busybox must be the static one.
! ldd "$busybox_bin" >/dev/null 2>&1 || die "$busybox_bin is not static (install busybox-static)"

cache=${KESTRAVA_VM_CACHE:-$HOME/.cache/kestrava-vm}
mkdir -p "$cache"

# ---- The kernel: Debian's current one, unpacked into the cache ---------------
# The modules the guest needs: the root over 9p, the overlay, the cards.
boot_modules=(virtio_pci 9pnet_virtio 9p overlay)
card_modules=(dummy_hcd libcomposite usb_f_midi snd-usb-audio snd-seq snd-seq-midi snd-seq-dummy)

kernel_package() {
    local pkg ver
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
    [ -n "$pkg" ] || return 1
    ver=$(apt-cache show --no-all-versions "$pkg" 2>/dev/null | awk '/^Version:/ { print $2; exit }')
    [ -n "$ver" ] || return 1
    echo "$pkg $ver"
}

# prepare_kernel <dir> <package> <version>: the uncompressed kernel (the ELF
# inside vmlinuz: QEMU boots it through its PVH entry, much faster than the
# bzImage under TCG) and the modules the guest loads, with their index.
prepare_kernel() {
    local dir=$1 pkg=$2 ver=$3 tmp kver off mods
    tmp=$(mktemp -d "$cache/.unpack.XXXXXX")
    say "downloading and unpacking $pkg $ver (first run only)"
    (cd "$tmp" && apt-get download -q "$pkg=$ver" >/dev/null 2>"$tmp/download.log") \
        || { cat "$tmp/download.log" >&2; rm -rf "$tmp"; die "cannot download $pkg"; }
    dpkg-deb -x "$tmp"/*.deb "$tmp/root"
    kver=$(basename "$(ls -d "$tmp"/root/lib/modules/*)")
    off=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$tmp/root/boot/vmlinuz-$kver" | head -n1 | cut -d: -f1)
    [ -n "$off" ] || { rm -rf "$tmp"; die "no xz payload in vmlinuz-$kver"; }
    tail -c +$((off + 1)) "$tmp/root/boot/vmlinuz-$kver" | xz -dc --single-stream >"$tmp/vmlinux" 2>/dev/null || true
    [ "$(head -c 4 "$tmp/vmlinux" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] \
        || { rm -rf "$tmp"; die "the kernel inside vmlinuz-$kver is not an ELF image"; }
    depmod -b "$tmp/root" "$kver"
    mods=$(modprobe -d "$tmp/root" -S "$kver" --show-depends -a "${boot_modules[@]}" "${card_modules[@]}" \
           | awk '$1 == "insmod" { print $2 }' | sort -u)
    mkdir -p "$tmp/kernel/lib/modules/$kver"
    (cd "$tmp/root/lib/modules/$kver" && cp modules.order modules.builtin modules.builtin.modinfo "$tmp/kernel/lib/modules/$kver/")
    local m
    for m in $mods; do
        m=${m#"$tmp/root/lib/modules/$kver/"}
        mkdir -p "$tmp/kernel/lib/modules/$kver/$(dirname "$m")"
        cp "$tmp/root/lib/modules/$kver/$m" "$tmp/kernel/lib/modules/$kver/$m"
    done
    depmod -b "$tmp/kernel" "$kver"
    mv "$tmp/vmlinux" "$tmp/kernel/vmlinux"
    echo "$kver" >"$tmp/kernel/release"
    rm -rf "$dir"
    mv "$tmp/kernel" "$dir"
    rm -rf "$tmp"
}

# The guest's first process: loads the modules for the root, mounts it, runs
# the command's script in it and powers off.
write_init() {
    cat <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
stty -F /dev/console -opost 2>/dev/null
for m in virtio_pci 9pnet_virtio 9p overlay; do modprobe "$m" || echo "init: cannot load $m"; done
run=$(sed -n 's/.*kestrava\.run=\([^ ]*\).*/\1/p' /proc/cmdline)
shares=$(sed -n 's/.*kestrava\.shares=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p /host /rw /root
opts=trans=virtio,version=9p2000.L,msize=512000
if mount -t 9p -o "$opts,ro,cache=loose" hostroot /host && mount -t tmpfs -o mode=755 rw /rw \
   && mkdir -p /rw/upper /rw/work \
   && mount -t overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work overlay /root; then
    r=/root
    mount -t proc proc $r/proc
    mount -t sysfs sys $r/sys
    mount -t devtmpfs dev $r/dev
    mkdir -p $r/dev/pts $r/dev/shm
    mount -t devpts -o ptmxmode=666 devpts $r/dev/pts
    mount -t tmpfs -o mode=1777 shm $r/dev/shm
    mount -t tmpfs -o mode=1777 tmp $r/tmp
    mount -t tmpfs -o mode=755 run $r/run
    mount -t configfs configfs $r/sys/kernel/config 2>/dev/null
    k=$(uname -r)
    mkdir -p "$r/lib/modules/$k" && mount --bind "/lib/modules/$k" "$r/lib/modules/$k"
    mkdir -p "$r$run" && mount -t 9p -o "$opts" run "$r$run"
    i=0
    for s in $(echo "$shares" | tr ',' ' '); do
        mkdir -p "$r$s" && mount -t 9p -o "$opts" "share$i" "$r$s"
        i=$((i + 1))
    done
    chroot $r /bin/bash "$run/stage2.sh" </dev/console >/dev/console 2>&1
    sync
else
    echo "init: the host's root could not be mounted"
fi
reboot -f
INIT
}

# prepare_initramfs <file> <kernel dir>: busybox, the modules and init.
prepare_initramfs() {
    local file=$1 kdir=$2 tmp kver
    kver=$(cat "$kdir/release")
    tmp=$(mktemp -d "$cache/.initramfs.XXXXXX")
    mkdir -p "$tmp/root/bin" "$tmp/root/lib/modules" "$tmp/root/proc" "$tmp/root/sys" "$tmp/root/dev"
    cp "$busybox_bin" "$tmp/root/bin/busybox"
    ln -s bin "$tmp/root/sbin"
    cp -r "$kdir/lib/modules/$kver" "$tmp/root/lib/modules/"
    write_init >"$tmp/root/init"
    chmod 755 "$tmp/root/init"
    (cd "$tmp/root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$tmp/initramfs.cpio"
    mv "$tmp/initramfs.cpio" "$file"
    rm -rf "$tmp"
}

# Prepared once, under a lock (runs side by side share the cache).
exec {lock}>"$cache/.lock"
flock "$lock"
if pkgver=$(kernel_package); then
    read -r pkg ver <<<"$pkgver"
    kdir="$cache/kernel-$pkg-$ver"
    if [ ! -f "$kdir/release" ]; then
        prepare_kernel "$kdir" "$pkg" "$ver"
        # Older kernels go (a guest that runs has its kernel and initramfs in memory).
        for old in "$cache"/kernel-*; do
            [ "$old" = "$kdir" ] || rm -rf "$old"
        done
    fi
else
    # No package lists: the newest kernel already in the cache will do.
    kdir=$(ls -d "$cache"/kernel-*/ 2>/dev/null | tail -n1)
    kdir=${kdir%/}
    [ -n "$kdir" ] && [ -f "$kdir/release" ] || die "apt-cache finds no linux-image-amd64 and no kernel is cached (run apt-get update)"
fi
key=$(cat "$0" "$busybox_bin" | sha256sum | cut -c1-16)
initramfs="$kdir/initramfs-$key.cpio"
if [ ! -f "$initramfs" ]; then
    rm -f "$kdir"/initramfs-*.cpio
    prepare_initramfs "$initramfs" "$kdir"
fi
flock -u "$lock"

# ---- The run ----------------------------------------------------------------
run=$(mktemp -d "${TMPDIR:-/tmp}/kestrava-guest.XXXXXX")
trap 'rm -rf "$run"' EXIT
{
    echo "# The command, as the guest runs it (made by run-in-guest.sh)."
    echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM=dumb'
    while IFS= read -r name; do
        printf 'export %s=%q\n' "$name" "${!name}"
    done < <(compgen -e | grep '^KESTRAVA_' || true)
    printf 'source %q\n' "$here/guest-lib.sh"
    printf 'kv_setup_cards %q || { echo 125 >%q/status; exit 125; }\n' "$cards" "$run"
    printf 'cd %q || exit 125\n' "$PWD"
    printf '%q ' "$@"
    echo
    printf 'echo $? >%q/status\n' "$run"
} >"$run/stage2.sh"

share_list=
virtfs=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
        -virtfs "local,path=$run,mount_tag=run,security_model=none")
for i in "${!shares[@]}"; do
    virtfs+=(-virtfs "local,path=${shares[i]},mount_tag=share$i,security_model=none")
    share_list+=${share_list:+,}${shares[i]}
done

# smap=off: under TCG an iretq to user mode reads its frame as a supervisor
# access, which SMAP refuses; Wine returns from its exception handling that way.
status=0
timeout --kill-after=10 "$limit" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu max,smap=off -smp "$cpus" -m "${memory}M" \
    -nodefaults -no-user-config -nographic -no-reboot \
    -chardev stdio,id=console,signal=off -serial chardev:console \
    -bios qboot.rom \
    -kernel "$kdir/vmlinux" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off kestrava.run=$run kestrava.shares=$share_list" \
    "${virtfs[@]}" </dev/null || status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    say "the time limit of $limit s ended the guest"
    exit 124
fi
if [ ! -s "$run/status" ]; then
    say "the guest ended without the command's status (QEMU exited with $status)"
    exit 125
fi
exit "$(cat "$run/status")"
