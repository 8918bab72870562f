#!/bin/sh
# Passes when the ELF file $1 names libc.so.6 as its one and only NEEDED library.
set -eu
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p')
if [ "$needed" = "libc.so.6" ]; then
  echo "$1: NEEDED libc.so.6"
  exit 0
fi
echo "$1: NEEDED is '$needed', expected libc.so.6 alone" >&2
exit 1
