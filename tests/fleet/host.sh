#!/usr/bin/env bash
# One test host of the fleet: the i386 system SYSTEM (read-only, shared by all
# hosts) under an overlay whose upper layer UPPER holds what this host changes,
# so that each host has its own /etc, key file and configuration; /tmp is the
# folder TMP, so that the test can read what was left there. Runs the host's
# own sshd on 127.0.0.1:PORT in a private mount and process namespace, as the
# first and only process there: ending this script's process (the test does,
# by its process id) ends the host, every ssh session and module included.
#   host.sh SYSTEM UPPER TMP PORT PUBKEY NAME [SIZE]
# With SIZE the host's changes go to a file system of that size instead, made in
# the namespace (and gone with it), which fills up as a full disk does. The host has its own name NAME and reports an i686 machine. On the
# first start it gets its own ssh host key and the user admin (uid 1000), who
# may log in with the key PUBKEY and become root with sudo without a
# password, as Ansible's become asks, and loses the archive's package lists.
set -euo pipefail
system=$1 upper=$2 tmp=$3 port=$4 pubkey=$5 name=$6 size=${7:-}
account=$(cd "$(dirname "$0")" && pwd)/host_account.sh
mkdir -p "$upper/layer" "$upper/work" "$upper/merged" "$tmp"
exec unshare --mount --uts --pid --fork --kill-child -- bash -c '
  set -e
  system=$1 upper=$2 tmp=$3 port=$4 pubkey=$5 name=$6 size=$7 account=$8
  hostname "$name"
  if [ -n "$size" ]; then
    mount -t tmpfs -o "size=$size" tmpfs "$upper/layer"
    mkdir "$upper/layer/work" "$upper/layer/upper"
    layer=$upper/layer/upper work=$upper/layer/work
  else
    layer=$upper/layer work=$upper/work
  fi
  root=$upper/merged
  mount -t overlay overlay -o "lowerdir=$system,upperdir=$layer,workdir=$work" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=0755 tmpfs "$root/run"
  mount --bind "$tmp" "$root/tmp"
  chmod 1777 "$root/tmp"
  mkdir -p "$root/run/sshd"
  if [ ! -e "$root/etc/vorn-test-host" ]; then
    rm -f "$root"/etc/ssh/ssh_host_*
    chroot "$root" ssh-keygen -q -t ed25519 -N "" -C "$name" -f /etc/ssh/ssh_host_ed25519_key
    sh "$account" "$root" "$name" "$pubkey"
    # The archive'"'"'s package lists only serve apt with the archive, which a test host
    # never reaches: without them apt there knows only what it is given.
    rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/*.bin
    : >"$root/etc/vorn-test-host"
  fi
  exec setarch i686 chroot "$root" /usr/sbin/sshd -D -e -p "$port" -o ListenAddress=127.0.0.1 \
    -o HostKey=/etc/ssh/ssh_host_ed25519_key -o PasswordAuthentication=no -o KbdInteractiveAuthentication=no \
    -o PermitRootLogin=no -o UsePAM=no
' _ "$system" "$upper" "$tmp" "$port" "$pubkey" "$name" "$size" "$account"
