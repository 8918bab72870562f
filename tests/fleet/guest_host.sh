#!/usr/bin/env bash
# The fleet's host on a real 32-bit kernel: Debian's 686 kernel under
# qemu-system-i386 (TCG) on a disk made from SYSTEM (the i386 host root), with
# the host's sshd reached through 127.0.0.1:SSH_PORT, the MariaDB server at
# 10.0.2.100 port 3306, which qemu forwards to 127.0.0.1:DB_PORT, and, with
# REPO_PORT, the package repository's web server at 10.0.2.101 port 80, forwarded
# to 127.0.0.1:REPO_PORT. qemu's user network is restricted: the guest reaches
# those addresses and nothing else. Ends as qemu (exec), so that the test
# stops the guest by this process's id.
#   guest_host.sh ROOT_SCRIPT SYSTEM WORK SSH_PORT DB_PORT PUBKEY SAMPLER [REPO_PORT]
# SAMPLER (tests/ansible/sampler.py) goes into the guest as /guest/sampler.py.
set -euo pipefail
root_script=$(realpath "$1") system=$2 work=$3 ssh_port=$4 db_port=$5 pubkey=$6 sampler=$7 repo_port=${8:-}
here=$(cd "$(dirname "$0")" && pwd)
fail() {
  echo "guest host: $*" >&2
  exit 1
}
root() { bash "$root_script" "$@"; }
# shellcheck source=../kernel/guest.sh
. "$here/../kernel/guest.sh"
mkdir -p "$work"
guest_kernel "$work"
rm -f "$work/host_key" "$work/host_key.pub"
ssh-keygen -q -t ed25519 -N '' -C guest -f "$work/host_key"
guest_files() {
  local image=$1
  rm -f "$image"/etc/ssh/ssh_host_*
  install -m 0600 "$work/host_key" "$image/etc/ssh/ssh_host_ed25519_key"
  install -m 0644 "$work/host_key.pub" "$image/etc/ssh/ssh_host_ed25519_key.pub"
  sh "$here/host_account.sh" "$image" guest "$pubkey"
  cp "$sampler" "$image/guest/sampler.py"
}
guest_disk "$work" "$system" "$here/guest_sshd.sh"
guest_qemu
net="user,model=virtio-net-pci,restrict=on,hostfwd=tcp:127.0.0.1:$ssh_port-:22"
net+=",guestfwd=tcp:10.0.2.100:3306-cmd:socat - TCP:127.0.0.1:$db_port"
[ -z "$repo_port" ] || net+=",guestfwd=tcp:10.0.2.101:80-cmd:socat - TCP:127.0.0.1:$repo_port"
exec "${qemu[@]}" -nic "$net"
