#!/usr/bin/env bash
# Boots Debian's 32-bit x86 kernel under qemu-system-i386 (TCG) and runs the
# i386 build's test programs in it, on ext4, as root and as an unprivileged
# user; then judges what the guest left on its disk (judge.sh).
#   run_guest.sh <manifest> <work dir>
# The manifest (written by CMake) names the build's programs and test programs.
# The kernel and the guest's programs come from i386 Debian packages, fetched
# with apt-get download into <work dir>/debs (kept between runs) and unpacked,
# never installed. The guest's console is kept as <work dir>/console.log, its
# results as <work dir>/results/.
set -euo pipefail
manifest=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
# Wall-clock limit of one guest run, in seconds.
limit=${VORN_GUEST_TIMEOUT:-300}
# shellcheck source=/dev/null
. "$manifest"

fail() {
  echo "kernel guest: $*" >&2
  exit 1
}
for tool in qemu-system-i386 cpio dpkg-deb apt-get mke2fs debugfs readelf objcopy timeout; do
  command -v "$tool" >/dev/null || fail "$tool not found (bash scripts/setup installs it)"
done
firmware=/usr/share/qemu/qboot.rom
[ -r "$firmware" ] || fail "$firmware not found (qemu-system-data; bash scripts/setup installs it)"

# --- The packages: fetched once, kept in the work dir. ---------------------
debs=$work/debs
mkdir -p "$debs"
fetch() {  # package names without architecture, fetched in one go
  local pkg missing=()
  for pkg in "$@"; do
    compgen -G "$debs/${pkg}_*_i386.deb" >/dev/null || missing+=("$pkg:i386")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  # Package lists older than the archive name versions it no longer has:
  # refresh them once and try again.
  until (cd "$debs" && apt-get -o APT::Sandbox::User=root -q download "${missing[@]}" >/dev/null); do
    [ -z "${refreshed:-}" ] ||
      fail "cannot download ${missing[*]} (bash scripts/setup adds the i386 architecture to apt)"
    refreshed=yes
    apt-get -o DPkg::Lock::Timeout=900 -qq update || true
  done
}
deb() { compgen -G "$debs/${1}_*_i386.deb" | sort -V | tail -n 1; }
userland=(libc6 libgcc-s1 libstdc++6 dash busybox-static e2fsprogs libext2fs2 libcom-err2
          util-linux libcap-ng0 libsmartcols1)
fetch linux-image-686 "${userland[@]}"
# The metapackage names the kernel package of the day.
kpkg=$(dpkg-deb -f "$(deb linux-image-686)" Depends | grep -o 'linux-image-[0-9][^ ,]*' | head -n 1)
[ -n "$kpkg" ] || fail "no kernel package named by $(deb linux-image-686)"
fetch "$kpkg"

# --- Kernel and modules (ext4 and the virtio disk are modules). -------------
# Load order, from the modules' own dependency fields (the package has no
# modules.dep): each needs only those before it.
modules=(crypto/crc32c_generic drivers/virtio/virtio_ring drivers/virtio/virtio_pci_modern_dev
         drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio drivers/virtio/virtio_pci
         drivers/block/virtio_blk fs/jbd2/jbd2 fs/mbcache lib/crc16 fs/ext4/ext4)
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

# --- The guest's root file system: i386 packages and the build's programs. --
root=$work/root
rm -rf "$root"
mkdir -p "$root"
for pkg in "${userland[@]}"; do dpkg-deb -x "$(deb "$pkg")" "$root"; done
mkdir -p "$root/busybox" "$root/proc" "$root/dev" "$root/tmp" "$root/results" "$root/guest"
mv "$root/bin/busybox" "$root/busybox/busybox"
chmod 1777 "$root/tmp"
# Programs and test programs at their build-tree paths, without debug sections
# (the guest's disk and memory stay small); the test data beside them.
for f in $VORN_FILES; do
  mkdir -p "$root$(dirname "$f")"
  objcopy --strip-debug "$f" "$root$f"
done
for d in $VORN_DATA; do
  mkdir -p "$root$d"
  cp -a "$d/." "$root$d/"
done
mkdir -p "$root$(dirname "$VORN_EMULATOR")" "$root$VORN_SCRATCH"
cp "$VORN_STANDIN" "$root$VORN_EMULATOR"
chmod 1777 "$root$VORN_SCRATCH"
cp "$here/guest_run.sh" "$root/guest/run.sh"
cp "$manifest" "$root/guest/manifest"
chmod 0755 "$root" "$root/guest/run.sh"

# Every library a guest program needs must be there; say which one is not.
libdirs=("$root/lib/i386-linux-gnu" "$root/usr/lib/i386-linux-gnu" "$root/lib")
for f in $VORN_FILES $VORN_EMULATOR /bin/dash /usr/bin/chattr /usr/bin/lsattr /usr/bin/setpriv /usr/bin/prlimit; do
  for lib in $(readelf -d "$root$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    found=no
    for d in "${libdirs[@]}"; do [ -e "$d/$lib" ] && found=yes; done
    [ "$found" = yes ] || fail "$f needs $lib, which no guest package provides"
  done
done

disk=$work/disk.img
rm -f "$disk"
size=$(( $(du -sm "$root" | cut -f1) + 96 ))
mke2fs -q -F -t ext4 -L vornguest -d "$root" "$disk" "${size}M" >/dev/null ||
  fail "cannot make the ext4 image $disk"

# --- Boot. -------------------------------------------------------------------
console=$work/console.log
rm -rf "$work/results"
: >"$console"
start=$(date +%s)
set +e
timeout -k 10 "$limit" qemu-system-i386 -M pc -accel tcg,tb-size=256 -cpu max -m 128 \
  -bios "$firmware" -nic none -display none -no-reboot -monitor none -serial "file:$console" \
  -kernel "$(compgen -G "$kdir/boot/vmlinuz-*")" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 cryptomgr.notests=1 isapnp=0 quiet panic=-1" \
  -drive "file=$disk,format=raw,if=virtio"
qemu=$?
set -e
echo "kernel guest: qemu ended with status $qemu after $(( $(date +%s) - start )) s (console: $console)"
if [ "$qemu" -eq 124 ] || [ "$qemu" -eq 137 ]; then
  tail -n 40 "$console" >&2
  fail "the guest did not finish within $limit s; console output in $console"
fi

debugfs -R "rdump /results $work" "$disk" >/dev/null 2>&1 || true
if [ ! -e "$work/results/done" ]; then
  tail -n 40 "$console" >&2
  fail "the guest stopped before finishing its run; console output in $console"
fi
exec "$here/judge.sh" "$work/results" "$manifest"
