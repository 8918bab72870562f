#!/bin/busybox sh
# The guest's first process, from the initramfs: loads the virtio disk, ext4
# and virtio network modules in their dependency order, mounts the test disk
# and makes it the root, where /guest/run.sh goes on. On any failure it says why and ends, which
# makes the kernel panic and qemu stop (panic=-1 and -no-reboot).
bb=/bin/busybox
fail() {
  echo "guest init: $*"
  exit 1
}
$bb mkdir -p /proc /dev /newroot
$bb mount -t proc proc /proc || fail "cannot mount /proc"
$bb mount -t devtmpfs dev /dev || fail "cannot mount /dev"
while read -r m; do
  $bb insmod "/modules/$m.ko" || fail "cannot load module $m"
done </modules/order
# The disk's device node appears once its driver has probed it.
n=0
while [ ! -b /dev/vda ]; do
  n=$((n + 1))
  [ "$n" -le 50 ] || fail "no disk /dev/vda"
  $bb sleep 0.1
done
$bb mount -t ext4 /dev/vda /newroot || fail "cannot mount /dev/vda as ext4"
$bb mount --move /dev /newroot/dev || fail "cannot move /dev"
$bb umount /proc
exec $bb switch_root /newroot /guest/run.sh
