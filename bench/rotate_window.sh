#!/bin/bash
# The mismatch window of vorn_keyfile --rotate: the time from the start of its
# first rename (the new key file put in place) to the end of its last (the last
# configuration file put in place), during which the product's reader may find
# the new key with a file still under the old one. Measured with strace, which
# stops the program at its renames and fsyncs alone (--seccomp-bpf), on FILES
# configuration files in a folder of a real disk (the window holds one fsync
# of the key file's folder), rotating back and forth between two keys; prints
# the median and the largest window of ROUNDS rotations, in milliseconds, and
# the median time of a whole run for comparison.
#
#   bash bench/rotate_window.sh [BUILD_DIR [ROUNDS [FILES [FOLDER]]]]
#
# BUILD_DIR defaults to build/native (it needs vorn_keyfile and vorn_set_testkey
# built), ROUNDS to 21, FILES to 3, FOLDER (where the files are made) to
# /var/tmp.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
rounds=${2:-21} files=${3:-3} folder=${4:-/var/tmp}
keyfile=$build/vorn_keyfile/vorn_keyfile set=$build/vorn_set_testkey
for p in "$keyfile" "$set"; do
  [[ -x $p ]] || { echo "rotate_window.sh: \"$p\" is not built" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "rotate_window.sh: strace is not installed (apt-get install strace)" >&2; exit 1; }

work=$(mktemp -d "$folder/vorn_rotate_window.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
# Two test keys, neither of them a secret; they reach the programs on standard
# input only.
keys=(112233445566778899aabbccddeeff10 0102030405060708090a0b0c0d0e0f11)
printf "%s\n" "${keys[0]}" | "$keyfile" --key-stdin .vorn_yelto
targets=()
for ((i = 0; i < files; i++)); do
  printf 'hostname=db%d.example.net\nusername=yelto\npassword=pw%d\n' "$i" "$i" | "$set" -e yes -s "conf$i"
  targets+=("$work/conf$i")
done

windows=() runs=()
for ((round = 1; round <= rounds; round++)); do
  key=${keys[round % 2]}
  start=$(date +%s%N)
  strace --seccomp-bpf -f -ttt -T -e trace=rename,renameat,renameat2,fsync -o trace.log \
    "$keyfile" --rotate --key-stdin --key-file="$work/.vorn_yelto" "${targets[@]}" < <(printf "%s\n" "$key")
  runs+=($((($(date +%s%N) - start) / 1000)))
  # The window: the start of the key file's rename to the end of the last
  # file's, in microseconds (the old-key file's rename comes long before).
  windows+=("$(awk '/rename/ && !/old-key/ && / = 0 / {
      t = $1; d = $NF; gsub(/[<>]/, "", d)
      if (first == "") first = t
      last = t + d
    } END { printf "%d\n", (last - first) * 1e6 }' trace.log)")
  # The key file that the next round rotates from.
  printf "%s\n" "$key" | "$keyfile" --check --key-stdin .vorn_yelto
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
largest() { printf '%s\n' "$@" | sort -n | tail -n 1; }
ms() { awk -v us="$1" 'BEGIN { printf "%.2f", us / 1000 }'; }
echo "files: $files, rounds: $rounds, folder: $(df --output=fstype "$work" | tail -n 1) at $folder"
echo "mismatch window: median $(ms "$(median "${windows[@]}")") ms, largest $(ms "$(largest "${windows[@]}")") ms"
echo "whole run under strace: median $(ms "$(median "${runs[@]}")") ms"
