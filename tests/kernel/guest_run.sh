#!/bin/sh
# Runs in the 32-bit guest, as its first process, on the ext4 root that
# run_guest.sh made from the i386 host root with the packages installed: sets
# up the file systems and the network that qemu provides, runs the end-to-end
# checks (checks.sh) as root and as user 1000 against the server at
# 10.0.2.100:3306, leaves their output under /results (and /results/done when
# it got through), then restarts the machine, which ends qemu. The root has no
# init system and no mount or ip of its own: busybox serves for those.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH
bb=/guest/busybox
$bb mount -t proc proc /proc
$bb mount -t sysfs sysfs /sys
$bb mkdir -p /dev/pts /dev/shm
$bb mount -t devpts devpts /dev/pts
$bb mount -t tmpfs tmpfs /run
$bb mount -t tmpfs tmpfs /tmp
uptime() {
  read -r up _ </proc/uptime
  echo "guest: $1 at ${up} s since boot"
}
uptime "userland started"
$bb ip link set lo up
$bb ip addr add 10.0.2.15/24 dev eth0
$bb ip link set eth0 up
uptime "network up"

echo "guest: kernel $(uname -r), machine $(uname -m)"
uname -m >/results/machine

sh /guest/checks.sh /guest/programs 10.0.2.100 3306 /var/tmp/vorn-checks/work </guest/password >/results/checks.log 2>&1
status=$?
# The network reaches that one forwarded address and nothing else: not even
# the server's own port on the build machine, which an unrestricted user
# network would hand on as 10.0.2.2.
conf=/var/tmp/vorn-checks/work/other-address.conf
printf y | vorn_sql -H 10.0.2.2 -P "$(cat /guest/server-port)" -d quordexDB -u vorn -p "$(cat /guest/password)" \
  -s "$conf" >/dev/null 2>&1
vorn_dbcheck -t 5 "$conf" >/dev/null 2>/tmp/other.err
case $?:$(tail -n 1 /tmp/other.err) in
  1:*": error 2002: "* | 1:*": error 2003: "*)
    echo "ok: nothing else is reachable: $(tail -n 1 /tmp/other.err)" >>/results/checks.log ;;
  *)
    echo "FAILED: the guest reached 10.0.2.2 port $(cat /guest/server-port): $(tail -n 1 /tmp/other.err)" >>/results/checks.log
    status=1 ;;
esac
echo $status >/results/checks.status
sed 's/^/guest: /' /results/checks.log
uptime "checks done"

echo done >/results/done
sync
$bb mount -o remount,ro /
$bb reboot -f
