#!/bin/sh
# Runs in the 32-bit kernel guest as its first process, on the ext4 root made
# from the fleet's i386 host system: sets up the file
# systems and qemu's network, then runs the host's sshd on port 22, which qemu
# forwards from a loopback port of the build machine. The host key, the user
# admin's key and sudo rule came with the disk (guest_host.sh). The guest runs
# until qemu is stopped; if sshd ends, so does the guest.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
bb=/guest/busybox
$bb mount -t proc proc /proc
$bb mount -t sysfs sysfs /sys
$bb mkdir -p /dev/pts /dev/shm
$bb mount -t devpts devpts /dev/pts
$bb mount -t tmpfs -o mode=0755 tmpfs /run
$bb mount -t tmpfs tmpfs /tmp
$bb chmod 1777 /tmp
$bb hostname guest
$bb ip link set lo up
$bb ip addr add 10.0.2.15/24 dev eth0
$bb ip link set eth0 up
$bb ip route add default via 10.0.2.2
mkdir -p /run/sshd
echo "guest: kernel $(uname -r), machine $(uname -m); sshd starting"
/usr/sbin/sshd -D -e -o PasswordAuthentication=no -o KbdInteractiveAuthentication=no -o PermitRootLogin=no \
  -o UsePAM=no -o HostKey=/etc/ssh/ssh_host_ed25519_key
echo "guest: sshd ended with status $?"
$bb reboot -f
