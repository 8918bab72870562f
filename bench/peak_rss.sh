#!/bin/bash
# Peak resident memory (VmHWM at exit, address randomisation off) of vorn_sql,
# plain and with "-e yes", beside syscall_baseline: a program that makes the
# same system calls and nothing else. The runs alternate, round by round, on
# tmpfs; the script prints the median of each in KiB and its ratio to the
# baseline that wrote the same number of bytes.
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
vorn_sql_testkey=$build/config_writer/vorn_sql_testkey
keyfile=$build/cipher/vorn_keyfile
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

declare -a base_plain=() plain=() base_encrypted=() encrypted=()
for ((r = 0; r < rounds; r++)); do
  base_plain+=("$(peak "$baseline" "$file" "$plain_bytes")")
  plain+=("$(peak "$vorn_sql" "${args[@]}")")
  base_encrypted+=("$(peak "$baseline" "$file" "$encrypted_bytes")")
  encrypted+=("$(peak "$vorn_sql_testkey" -e yes "${args[@]}")")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

bp=$(median "${base_plain[@]}")
p=$(median "${plain[@]}")
be=$(median "${base_encrypted[@]}")
e=$(median "${encrypted[@]}")
echo "peak resident memory (VmHWM, KiB), median of $rounds alternating rounds on tmpfs"
printf '%-26s %8s %8s %7s\n' run program baseline ratio
printf '%-26s %8s %8s %7.3f\n' "plain ($plain_bytes bytes)" "$p" "$bp" "$(awk -v a="$p" -v b="$bp" 'BEGIN { print a / b }')"
printf '%-26s %8s %8s %7.3f\n' "-e yes ($encrypted_bytes bytes)" "$e" "$be" "$(awk -v a="$e" -v b="$be" 'BEGIN { print a / b }')"
