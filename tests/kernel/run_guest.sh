#!/usr/bin/env bash
# Boots Debian's 32-bit x86 kernel under qemu-system-i386 (TCG) on a disk made
# from the i386 host root with the i386 packages installed by apt, and runs the
# end-to-end checks (install/checks.sh) in it as root and as user 1000.
#   run_guest.sh ROOT_SCRIPT PACKAGES PROGRAMS WORK PORT
# Arguments and standard input as for install/check_install.sh. The system
# with the packages comes from "scripts/root installed" (kept between runs);
# the kernel and busybox (the initramfs, and the guest's network set-up) are
# i386 packages fetched with apt-get download in the host root into WORK/debs
# (kept between runs), never installed. vorn_dbcheck in the guest reaches the
# server as 10.0.2.100 port 3306: qemu's user network, restricted so that the
# guest reaches nothing else, forwards that one address to 127.0.0.1:PORT.
# WORK keeps the guest's console (console.log) and its results (results/).
# Exit 0 when every check held, 1 otherwise, 77 (skipped) without root.
set -euo pipefail
root_script=$(realpath "$1") packages=$2 programs=$3 work=$4 port=$5
here=$(cd "$(dirname "$0")" && pwd)
checks=$here/../install/checks.sh
# Wall-clock limit of one guest run, in seconds.
limit=${VORN_GUEST_TIMEOUT:-300}
[ "$(id -u)" = 0 ] || { echo "SKIPPED: needs root (chroot into the i386 host root)"; exit 77; }
IFS= read -r password

fail() {
  echo "kernel guest: $*" >&2
  exit 1
}
for tool in qemu-system-i386 socat cpio dpkg-deb mke2fs debugfs timeout; do
  command -v "$tool" >/dev/null || fail "$tool not found (bash scripts/setup installs it)"
done
firmware=/usr/share/qemu/qboot.rom
[ -r "$firmware" ] || fail "$firmware not found (qemu-system-data; bash scripts/setup installs it)"
debs=()
for p in vorn-admin vorn-admin-dbcheck; do
  found=("$packages/${p}"_*_i386.deb)
  [ ${#found[@]} = 1 ] && [ -f "${found[0]}" ] ||
    fail "not exactly one ${p}_*_i386.deb in $packages: the i386 build makes them (bash scripts/test, or bash scripts/root run i386-build cmake --workflow --preset i386)"
  debs+=("${found[0]}")
done
root() { bash "$root_script" "$@"; }
start=$SECONDS
mkdir -p "$work"

# --- The system: the host root with the packages, made once per package. ----
system=$(root installed i386-host "${debs[@]}" 2>"$work/install.log") ||
  { cat "$work/install.log"; fail "cannot install the packages in the i386 host root"; }
echo "kernel guest: system with the packages ready after $((SECONDS - start)) s"

# --- Kernel and busybox: fetched once, kept in the work dir. -----------------
cache=$work/debs
mkdir -p "$cache"
fetch() {  # package names, fetched in one go by the host root's apt
  local pkg missing=() host inside=/var/tmp/vorn-download
  for pkg in "$@"; do
    compgen -G "$cache/${pkg}_*_i386.deb" >/dev/null || missing+=("$pkg")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  host=$(root make i386-host) || fail "cannot make the i386 host root"
  rm -rf "${host:?}$inside"
  mkdir -p "$host$inside"
  # Lists older than the archive name versions it no longer has: refresh and retry.
  # shellcheck disable=SC2016
  get='cd "$1" && shift && apt-get -o APT::Sandbox::User=root -q download "$@"'
  root run i386-host sh -c "$get" _ "$inside" "${missing[@]}" >/dev/null ||
    root run i386-host sh -c "apt-get -qq update && $get" _ "$inside" "${missing[@]}" >/dev/null ||
    fail "cannot download ${missing[*]}"
  mv "$host$inside"/*.deb "$cache/"
  rm -rf "${host:?}$inside"
}
deb() { compgen -G "$cache/${1}_*_i386.deb" | sort -V | tail -n 1; }
fetch linux-image-686 busybox-static
# The metapackage names the kernel package of the day.
kpkg=$(dpkg-deb -f "$(deb linux-image-686)" Depends | grep -o 'linux-image-[0-9][^ ,]*' | head -n 1)
[ -n "$kpkg" ] || fail "no kernel package named by $(deb linux-image-686)"
fetch "$kpkg"

# --- Kernel and modules (ext4, the virtio disk and network are modules). ----
# Load order, from the modules' own dependency fields (the package has no
# modules.dep): each needs only those before it.
modules=(crypto/crc32c_generic drivers/virtio/virtio_ring drivers/virtio/virtio_pci_modern_dev
         drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio drivers/virtio/virtio_pci
         drivers/block/virtio_blk fs/jbd2/jbd2 fs/mbcache lib/crc16 fs/ext4/ext4
         net/core/failover drivers/net/net_failover drivers/net/virtio_net)
kdir=$work/kernel
if [ ! -e "$kdir/$kpkg.done" ]; then
  rm -rf "$kdir" && mkdir -p "$kdir"
  members=(./boot/vmlinuz-*)
  for m in "${modules[@]}"; do members+=("./lib/modules/*/kernel/$m.ko"); done
  dpkg-deb --fsys-tarfile "$(deb "$kpkg")" | tar -x -C "$kdir" --wildcards "${members[@]}"
  touch "$kdir/$kpkg.done"
fi

# --- The initramfs: busybox and the modules; its /init mounts the disk. -----
initrd=$work/initramfs
rm -rf "$initrd" "$work/initramfs.cpio"
mkdir -p "$initrd/bin" "$initrd/modules"
dpkg-deb --fsys-tarfile "$(deb busybox-static)" | tar -x -O ./bin/busybox >"$initrd/bin/busybox"
chmod 0755 "$initrd" "$initrd/bin/busybox"
for m in "${modules[@]}"; do
  cp "$kdir"/lib/modules/*/kernel/"$m.ko" "$initrd/modules/"
  echo "${m##*/}" >>"$initrd/modules/order"
done
cp "$here/init.sh" "$initrd/init"
chmod 0755 "$initrd/init"
(cd "$initrd" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) >"$work/initramfs.cpio"

# --- The disk: the system, the checks and the guest's first process. ---------
disk=$work/disk.img
image=$work/root
rm -rf "$image" "$disk"
cp -a "$system" "$image"
# The package lists only serve apt, which the guest does not run.
rm -rf "$image"/var/lib/apt/lists/* "$image"/var/cache/apt/*.bin
mkdir -p "$image/guest" "$image/results" "$image/var/tmp/vorn-checks/work"
cp "$initrd/bin/busybox" "$image/guest/busybox"
cp "$here/guest_run.sh" "$image/guest/run.sh"
cp "$checks" "$image/guest/checks.sh"
cp "$programs" "$image/guest/programs"
chmod 0755 "$image/guest/run.sh"
# The server's password reaches the guest as the checks' standard input; it is
# removed from the disk after the run.
(umask 077 && printf '%s\n' "$password" >"$image/guest/password")
echo "$port" >"$image/guest/server-port"
size=$(($(du -sm "$image" | cut -f1) + 96))
mke2fs -q -F -t ext4 -L vornguest -d "$image" "$disk" "${size}M" >/dev/null ||
  fail "cannot make the ext4 image $disk"
rm -rf "$image"
echo "kernel guest: disk of ${size} MB ready after $((SECONDS - start)) s"

# --- Boot. -------------------------------------------------------------------
console=$work/console.log
rm -rf "$work/results"
: >"$console"
boot=$SECONDS
set +e
timeout -k 10 "$limit" qemu-system-i386 -M pc -accel tcg,tb-size=256 -cpu max -m 256 \
  -bios "$firmware" -display none -no-reboot -monitor none -serial "file:$console" \
  -kernel "$(compgen -G "$kdir/boot/vmlinuz-*")" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 cryptomgr.notests=1 isapnp=0 quiet panic=-1" \
  -drive "file=$disk,format=raw,if=virtio" \
  -nic "user,model=virtio-net-pci,restrict=on,guestfwd=tcp:10.0.2.100:3306-cmd:socat - TCP:127.0.0.1:$port"
qemu=$?
set -e
echo "kernel guest: qemu ended with status $qemu after $((SECONDS - boot)) s (console: $console)"
debugfs -w -R "rm /guest/password" "$disk" >/dev/null 2>&1 || true
if [ "$qemu" -eq 124 ] || [ "$qemu" -eq 137 ]; then
  tail -n 40 "$console" >&2
  fail "the guest did not finish within $limit s; console output in $console"
fi

debugfs -R "rdump /results $work" "$disk" >/dev/null 2>&1 || true
if [ ! -e "$work/results/done" ]; then
  tail -n 40 "$console" >&2
  fail "the guest stopped before finishing its run; console output in $console"
fi
grep '^guest: ' "$console" | grep -v '^guest: \(ok\|FAILED\|as \)' || true
cat "$work/results/checks.log"
echo "kernel guest: $((SECONDS - start)) s in all"
[ "$(cat "$work/results/machine")" = i686 ] || fail "the guest's kernel reports machine '$(cat "$work/results/machine")', not i686"
[ "$(cat "$work/results/checks.status")" = 0 ] || fail "a check failed in the guest; see $work/results/checks.log"
