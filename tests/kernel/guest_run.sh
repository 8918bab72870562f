#!/bin/sh
# Runs in the 32-bit guest, as its first process, on the ext4 root that
# run_guest.sh made: every GoogleTest program of the build as root and then as
# user 1000, and vorn_sql with quordex_helper locking and unlocking its file.
# Leaves the results under /results (gtest XML, output, exit status) and
# /results/done when it got through, then restarts the machine, which ends qemu.
PATH=/usr/sbin:/usr/bin:/sbin:/bin:/busybox
HOME=/tmp
export PATH HOME
/busybox/busybox --install -s /busybox
mount -t proc proc /proc
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts
uptime() {
  read -r up _ </proc/uptime
  echo "guest: $1 at ${up} s since boot"
}
uptime "userland started"
. /guest/manifest
res=/results
mkdir -p $res/root $res/user
chown 1000:1000 $res/user

# run_gtests <who> [command put before each program]
run_gtests() {
  who=$1
  shift
  for entry in $VORN_GTESTS; do
    prog=${entry%%:*}
    name=${prog##*/}
    (cd "${entry#*:}" && "$@" "$prog" "--gtest_output=xml:$res/$who/$name.xml" >"$res/$who/$name.log" 2>&1)
    echo $? >"$res/$who/$name.status"
    grep -E '^\[ *(PASSED|FAILED|SKIPPED) *\]|tests? from .* ran' "$res/$who/$name.log" |
      sed "s|^|guest: $who: $name: |"
  done
  uptime "test programs done as $who"
}
run_gtests root
run_gtests user setpriv --reuid=1000 --regid=1000 --clear-groups

# A locked configuration file cannot be rewritten until it is unlocked; each
# step's outcome is one line of e2e.log, and e2e.status holds 0 when all held.
log=$res/e2e.log
ok=0
step() {  # <what> <want status> <want last line of stderr or ""> <command...>
  what=$1 want=$2 want_err=$3
  shift 3
  "$@" >/dev/null 2>/tmp/e2e.err
  got=$?
  err=$(tail -n 1 /tmp/e2e.err)
  if [ "$got" = "$want" ] && [ "$err" = "$want_err" ]; then
    echo "ok: $what" >>$log
  else
    echo "FAILED: $what: status $got (want $want), stderr '$err' (want '$want_err')" >>$log
    ok=1
  fi
}
have() {  # <what> <command...>: the command must succeed
  what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what" >>$log; else echo "FAILED: $what" >>$log; ok=1; fi
}
conf=$VORN_SCRATCH/e2e/conf
mkdir -p "${conf%/*}"
write() { printf y | "$VORN_SQL" -H db1 -u admin -p pw -d auth -P "$1" -s "$conf"; }
immutable() { case $(lsattr -d "$conf") in *i*" $conf") return 0 ;; esac; return 1; }
mutable() { ! immutable; }
step "vorn_sql writes $conf" 0 "" write 3307
have "it holds port 3307" grep -qx '" PORTNO 3307' "$conf"
step "quordex_helper locks it" 0 "" "$VORN_HELPER" "$conf" 1
have "lsattr shows it immutable" immutable
step "vorn_sql cannot replace it" 1 "Failed to write new secret: Operation not permitted" write 3308
have "it still holds port 3307" grep -qx '" PORTNO 3307' "$conf"
have "no temporary file is left" test ! -e "$conf~"
step "quordex_helper unlocks it" 0 "" "$VORN_HELPER" "$conf" 0
have "lsattr shows it mutable" mutable
step "vorn_sql replaces it" 0 "" write 3308
have "it holds port 3308" grep -qx '" PORTNO 3308' "$conf"
echo $ok >$res/e2e.status
sed 's/^/guest: end to end: /' $log

echo done >$res/done
uptime "finished"
sync
mount -o remount,ro /
reboot -f
