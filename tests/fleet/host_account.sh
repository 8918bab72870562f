#!/bin/sh
# Gives the test host whose root is ROOT its name NAME and the user admin
# (uid 1000), who logs in with the key PUBKEY only and becomes root with sudo
# without a password, as Ansible's become asks. Run as root on the build
# machine, for a chroot host (host.sh) and for the guest's disk (guest_host.sh).
#   host_account.sh ROOT NAME PUBKEY
set -eu
root=$1 name=$2 pubkey=$3
echo "$name" >"$root/etc/hostname"
echo "127.0.1.1 $name" >>"$root/etc/hosts"
chroot "$root" useradd -m -u 1000 -s /bin/bash admin
chroot "$root" usermod -p '*' admin
install -d -m 0700 -o 1000 -g 1000 "$root/home/admin/.ssh"
install -m 0600 -o 1000 -g 1000 "$pubkey" "$root/home/admin/.ssh/authorized_keys"
echo "admin ALL=(ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/admin"
chmod 0440 "$root/etc/sudoers.d/admin"
