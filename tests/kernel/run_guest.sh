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
# shellcheck source=guest.sh
. "$here/guest.sh"
guest_tools
# shellcheck source=../install/packages.sh
. "$here/../install/packages.sh"
i386_packages "$packages"
root() { bash "$root_script" "$@"; }
start=$SECONDS
mkdir -p "$work"

# --- The system: the host root with the packages, made once per package. ----
system=$(root installed i386-host "${debs[@]}" 2>"$work/install.log") ||
  { cat "$work/install.log"; fail "cannot install the packages in the i386 host root"; }
# Kept from being made again while its copy is made (scripts/root installed).
exec 9>"$system.lock"
flock -s 9
echo "kernel guest: system with the packages ready after $((SECONDS - start)) s"

# --- Kernel, initramfs and the disk: the system, the checks. -----------------
guest_kernel "$work"
guest_files() {
  local image=$1
  mkdir -p "$image/var/tmp/vorn-checks/work"
  cp "$checks" "$image/guest/checks.sh"
  cp "$programs" "$image/guest/programs"
  # The server's password reaches the guest as the checks' standard input; it is
  # removed from the disk after the run.
  (umask 077 && printf '%s\n' "$password" >"$image/guest/password")
  echo "$port" >"$image/guest/server-port"
}
guest_disk "$work" "$system" "$here/guest_run.sh"
disk=$work/disk.img
echo "kernel guest: ready after $((SECONDS - start)) s"

# --- Boot. -------------------------------------------------------------------
console=$work/console.log
rm -rf "$work/results"
: >"$console"
boot=$SECONDS
set +e
guest_qemu
timeout -k 10 "$limit" "${qemu[@]}" \
  -nic "user,model=virtio-net-pci,restrict=on,guestfwd=tcp:10.0.2.100:3306-cmd:socat - TCP:127.0.0.1:$port"
status=$?
set -e
echo "kernel guest: qemu ended with status $status after $((SECONDS - boot)) s (console: $console)"
debugfs -w -R "rm /guest/password" "$disk" >/dev/null 2>&1 || true
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
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
