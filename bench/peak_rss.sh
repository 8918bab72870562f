#!/bin/bash
# Peak resident memory (VmHWM at exit, address randomisation off) of vorn_sql,
# plain and with "-e yes", beside syscall_baseline: a program that makes the
# same system calls and nothing else. The runs alternate, round by round, on
# tmpfs; the script prints the median of each in KiB and its ratio to the
# baseline that wrote the same number of bytes, once with the baseline's
# question in raw system calls and once asked through stdio as vorn_sql asks.
#
#   bash bench/peak_rss.sh [BUILD_DIR [ROUNDS]]
#
# BUILD_DIR defaults to build/native; it needs vorn_sql, vorn_sql_testkey,
# vorn_keyfile, syscall_baseline and peak_rss_trace built.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
rounds=${2:-9}

trace=$build/bench/peak_rss_trace
baseline=$build/bench/syscall_baseline
vorn_sql=$build/config_writer/vorn_sql
vorn_sql_testkey=$build/vorn_sql_testkey
keyfile=$build/vorn_keyfile/vorn_keyfile
for p in "$trace" "$baseline" "$vorn_sql" "$vorn_sql_testkey" "$keyfile"; do
  if [[ ! -x $p ]]; then
    echo "peak_rss.sh: \"$p\" is not built" >&2
    exit 1
  fi
done

work=$(mktemp -d /dev/shm/vorn_peak_rss.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
# vorn_sql_testkey reads its key file from the working directory.
"$keyfile" 112233445566778899aabbccddeeff10 .vorn_yelto

file=$work/f
args=(-H db1.example.com -u admin -p secret -d auth -P 3306 -s "$file")

# Runs one program under the tracer on a fresh target and prints its VmHWM.
peak() {
  rm -f "$file" "$file~"
  # yes ends on a broken pipe: only the traced program's status counts.
  local status=0
  yes y 2>/dev/null | "$trace" "$work/result" "$@" >/dev/null || status=${PIPESTATUS[1]}
  if [[ $status -ne 0 ]]; then
    echo "peak_rss.sh: \"$*\" failed" >&2
    exit 1
  fi
  cat "$work/result"
}

# The byte count each run writes, for the baseline to write as many.
peak "$vorn_sql" "${args[@]}" >/dev/null
plain_bytes=$(stat -c %s "$file")
peak "$vorn_sql_testkey" -e yes "${args[@]}" >/dev/null
encrypted_bytes=$(stat -c %s "$file")

# Two baselines: raw system calls throughout, and the same with the question
# asked through stdio as vorn_sql asks it.
declare -a base_plain=() plain=() base_encrypted=() encrypted=() stdio_plain=() stdio_encrypted=()
for ((r = 0; r < rounds; r++)); do
  base_plain+=("$(peak "$baseline" "$file" "$plain_bytes")")
  stdio_plain+=("$(peak "$baseline" "$file" "$plain_bytes" stdio)")
  plain+=("$(peak "$vorn_sql" "${args[@]}")")
  base_encrypted+=("$(peak "$baseline" "$file" "$encrypted_bytes")")
  stdio_encrypted+=("$(peak "$baseline" "$file" "$encrypted_bytes" stdio)")
  encrypted+=("$(peak "$vorn_sql_testkey" -e yes "${args[@]}")")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

bp=$(median "${base_plain[@]}")
sp=$(median "${stdio_plain[@]}")
p=$(median "${plain[@]}")
be=$(median "${base_encrypted[@]}")
se=$(median "${stdio_encrypted[@]}")
e=$(median "${encrypted[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
echo "peak resident memory (VmHWM, KiB), median of $rounds alternating rounds on tmpfs"
printf '%-22s %8s %9s %7s %12s %7s\n' run program raw-calls ratio stdio-question ratio
printf '%-22s %8s %9s %7s %12s %7s\n' "plain ($plain_bytes bytes)" "$p" "$bp" "$(ratio "$p" "$bp")" "$sp" "$(ratio "$p" "$sp")"
printf '%-22s %8s %9s %7s %12s %7s\n' "-e yes ($encrypted_bytes bytes)" "$e" "$be" "$(ratio "$e" "$be")" "$se" "$(ratio "$e" "$se")"
