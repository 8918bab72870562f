#!/bin/bash
# Wall time and peak resident memory (VmHWM, address randomisation off) of one
# check by check_vorn, beside `mariadb-admin ping` and the Monitoring Plugins'
# check_mysql (Debian's monitoring-plugins-standard), all three logging in as
# the same user to the same private MariaDB server on the loopback. The runs
# alternate, round by round; the script prints the median of each and
# check_vorn's ratio to the others. Run by hand, as root or the owner of the
# build (check_vorn's file check expects its owner):
#
#   build/native/tests/with_mariadb bench/monitor_bench.sh [BUILD_DIR [ROUNDS]]
#
# with_mariadb starts the server, gives the password on standard input and the
# port as the last argument. The password reaches mariadb-admin and check_mysql
# as an options file that is a pipe (/dev/fd/3), never on a command line or in
# a file on disk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${!#}
build=$root/build/native rounds=21
[[ $# -gt 1 ]] && build=$(cd "$1" && pwd)
[[ $# -gt 2 ]] && rounds=$2
IFS= read -r password
trace=$build/bench/peak_rss_trace check_mysql=/usr/lib/nagios/plugins/check_mysql
for p in "$trace" "$build/check_vorn/check_vorn" "$build/vorn_set/vorn_set" "$check_mysql" "$(command -v mariadb-admin)"; do
  [[ -x $p ]] || { echo "monitor_bench.sh: \"$p\" is not there (build it; apt-get install monitoring-plugins-standard)" >&2; exit 1; }
done
work=$(mktemp -d /dev/shm/vorn_monitor_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf 'hostname=127.0.0.1\nportno=%s\ndbname=quordexDB\nusername=yelto\npassword=%s\n' "$port" "$password" |
  "$build/vorn_set/vorn_set" -s "$work/vorn.conf"

# run NAME [tracer...]: one check, its output in $work/out; fails unless it says OK.
run() {
  case $1 in
  check_vorn) "${@:2}" "$build/check_vorn/check_vorn" -f "$work/vorn.conf" -i lock ;;
  mariadb-admin) "${@:2}" "$(command -v mariadb-admin)" --defaults-extra-file=/dev/fd/3 -h 127.0.0.1 -P "$port" \
    -u yelto ping 3< <(printf '[client]\npassword=%s\n' "$password") ;;
  check_mysql) "${@:2}" "$check_mysql" -f /dev/fd/3 -g client -H 127.0.0.1 -P "$port" -u yelto -d quordexDB \
    3< <(printf '[client]\npassword=%s\n' "$password") ;;
  esac >"$work/out" 2>&1 || { echo "monitor_bench.sh: $1 failed: $(cat "$work/out")" >&2; exit 1; }
}
now() { date +%s%N; }
names=(check_vorn mariadb-admin check_mysql)
declare -A ms=() kib=()
for ((r = 0; r < rounds; r++)); do
  for n in "${names[@]}"; do
    t0=$(now)
    run "$n"
    ms[$n]+=" $(awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.3f", (b - a) / 1e6 }')"
    run "$n" "$trace" "$work/peak"
    kib[$n]+=" $(cat "$work/peak")"
  done
done
median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "one check against MariaDB on 127.0.0.1 port $port, median of $rounds alternating rounds"
echo "(the password reaches mariadb-admin and check_mysql through a pipe, /dev/fd/3: check_mysql -f)"
printf '%-14s %12s %9s %14s %9s\n' check wall-ms ratio peak-KiB ratio
for n in "${names[@]}"; do
  t=$(median "${ms[$n]}") k=$(median "${kib[$n]}")
  [[ $n == check_vorn ]] && t1=$t k1=$k
  printf '%-14s %12s %9s %14s %9s\n' "$n" "$t" "$(awk -v a="$t1" -v b="$t" 'BEGIN { printf "%.2f", a / b }')" \
    "$k" "$(awk -v a="$k1" -v b="$k" 'BEGIN { printf "%.2f", a / b }')"
done
echo "ratio: check_vorn's figure divided by the check's (below 1: check_vorn costs less)"
