#!/bin/sh
# Passes when the program $1 (as built, debug information included) names none
# of the folders given after it: the source and build trees. Their paths would
# enter the GNU build ID, which the linker computes over the whole file, so a
# package built from the same commit in another folder would differ.
set -eu
program=$1
shift
status=0
for dir in "$@"; do
  if grep -F -q -e "$dir" "$program"; then
    echo "$program names $dir (built without -ffile-prefix-map?):" >&2
    strings "$program" | grep -F -e "$dir" | sort -u | head -n 5 >&2
    status=1
  fi
done
[ "$status" = 0 ] && echo "$program: names none of $*"
exit "$status"
