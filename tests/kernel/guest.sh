#!/usr/bin/env bash
# The 32-bit kernel guest's parts, sourced by the scripts that boot it
# (run_guest.sh, the fleet's guest host):
#   guest_kernel WORK       Debian's 686 kernel and busybox, i386 packages
#                           fetched with apt-get download in the host root into
#                           WORK/debs (kept between runs), never installed;
#                           leaves the kernel at $vmlinuz and WORK/initramfs.cpio,
#                           whose /init mounts the disk and starts
#                           /guest/run.sh on it
#   guest_disk WORK SYSTEM RUN
#                           WORK/disk.img: ext4 holding the system SYSTEM (a
#                           root with the packages installed), RUN as
#                           /guest/run.sh and busybox as /guest/busybox, and
#                           what the caller's function guest_files puts into
#                           the image's folder it is given
#   guest_qemu              the qemu-system-i386 command, without its network,
#                           for WORK/disk.img with the console in
#                           WORK/console.log; in the array qemu
# The caller defines fail MESSAGE and root (runs scripts/root) and sets work.
guest_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

guest_tools() {
  local tool
  for tool in qemu-system-i386 socat cpio dpkg-deb mke2fs debugfs timeout; do
    command -v "$tool" >/dev/null || fail "$tool not found (bash scripts/setup installs it)"
  done
  firmware=/usr/share/qemu/qboot.rom
  [ -r "$firmware" ] || fail "$firmware not found (qemu-system-data; bash scripts/setup installs it)"
}

guest_fetch() {  # package names, fetched in one go by the host root's apt
  local pkg missing=() host inside=/var/tmp/vorn-download get
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
guest_deb() { compgen -G "$cache/${1}_*_i386.deb" | sort -V | tail -n 1; }

guest_kernel() {
  local work=$1 kpkg kdir initrd m members
  guest_tools
  cache=$work/debs
  mkdir -p "$cache"
  guest_fetch linux-image-686 busybox-static
  # The metapackage names the kernel package of the day.
  kpkg=$(dpkg-deb -f "$(guest_deb linux-image-686)" Depends | grep -o 'linux-image-[0-9][^ ,]*' | head -n 1)
  [ -n "$kpkg" ] || fail "no kernel package named by $(guest_deb linux-image-686)"
  guest_fetch "$kpkg"

  # Kernel and modules (ext4, the virtio disk and network are modules). Load
  # order, from the modules' own dependency fields (the package has no
  # modules.dep): each needs only those before it.
  local modules=(crypto/crc32c_generic drivers/virtio/virtio_ring drivers/virtio/virtio_pci_modern_dev
                 drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio drivers/virtio/virtio_pci
                 drivers/block/virtio_blk fs/jbd2/jbd2 fs/mbcache lib/crc16 fs/ext4/ext4
                 net/core/failover drivers/net/net_failover drivers/net/virtio_net)
  kdir=$work/kernel
  if [ ! -e "$kdir/$kpkg.done" ]; then
    rm -rf "$kdir" && mkdir -p "$kdir"
    members=(./boot/vmlinuz-*)
    for m in "${modules[@]}"; do members+=("./lib/modules/*/kernel/$m.ko"); done
    dpkg-deb --fsys-tarfile "$(guest_deb "$kpkg")" | tar -x -C "$kdir" --wildcards "${members[@]}"
    touch "$kdir/$kpkg.done"
  fi
  vmlinuz=$(compgen -G "$kdir/boot/vmlinuz-*")

  # The initramfs: busybox and the modules; its /init mounts the disk.
  initrd=$work/initramfs
  rm -rf "$initrd" "$work/initramfs.cpio"
  mkdir -p "$initrd/bin" "$initrd/modules"
  dpkg-deb --fsys-tarfile "$(guest_deb busybox-static)" | tar -x -O ./bin/busybox >"$initrd/bin/busybox"
  chmod 0755 "$initrd" "$initrd/bin/busybox"
  for m in "${modules[@]}"; do
    cp "$kdir"/lib/modules/*/kernel/"$m.ko" "$initrd/modules/"
    echo "${m##*/}" >>"$initrd/modules/order"
  done
  cp "$guest_here/init.sh" "$initrd/init"
  chmod 0755 "$initrd/init"
  (cd "$initrd" && find . | LC_ALL=C sort | cpio -o -H newc --quiet -R 0:0) >"$work/initramfs.cpio"
}

guest_disk() {
  local work=$1 system=$2 run=$3 image=$1/root size
  rm -rf "$image" "$work/disk.img"
  cp -a "$system" "$image"
  # The package lists only serve apt, which the guest does not run.
  rm -rf "$image"/var/lib/apt/lists/* "$image"/var/cache/apt/*.bin
  mkdir -p "$image/guest" "$image/results"
  cp "$work/initramfs/bin/busybox" "$image/guest/busybox"
  cp "$run" "$image/guest/run.sh"
  chmod 0755 "$image/guest/run.sh"
  guest_files "$image"
  size=$(($(du -sm "$image" | cut -f1) + 96))
  mke2fs -q -F -t ext4 -L vornguest -d "$image" "$work/disk.img" "${size}M" >/dev/null ||
    fail "cannot make the ext4 image $work/disk.img"
  rm -rf "$image"
  echo "kernel guest: disk of ${size} MB ready"
}

guest_qemu() {
  qemu=(qemu-system-i386 -M pc -accel tcg,tb-size=256 -cpu max -m 256
        -bios "$firmware" -display none -no-reboot -monitor none -serial "file:$work/console.log"
        -kernel "$vmlinuz" -initrd "$work/initramfs.cpio"
        -append "console=ttyS0 cryptomgr.notests=1 isapnp=0 quiet panic=-1"
        -drive "file=$work/disk.img,format=raw,if=virtio")
}
