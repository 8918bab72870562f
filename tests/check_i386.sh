#!/bin/sh
# Passes when the ELF file $1 is a 32-bit x86 (Intel 80386) program built with
# 64-bit file offsets: it imports none of the file calls whose 32-bit-offset
# forms fail with EOVERFLOW on large files or large inode numbers.
set -eu
header=$(readelf -h "$1")
class=$(printf '%s\n' "$header" | sed -n 's/^ *Class: *//p')
machine=$(printf '%s\n' "$header" | sed -n 's/^ *Machine: *//p')
if [ "$class" != "ELF32" ] || [ "$machine" != "Intel 80386" ]; then
  echo "$1: class '$class', machine '$machine'; expected ELF32, Intel 80386" >&2
  exit 1
fi
narrow=$(readelf --dyn-syms -W "$1" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
  grep -E -x 'open|openat|creat|fopen|freopen|tmpfile|mkstemp|mkostemp|stat|fstat|lstat|fstatat|__xstat|__fxstat|__lxstat|__fxstatat|statfs|fstatfs|lseek|truncate|ftruncate|pread|pwrite|mmap|readdir|fseeko|ftello|fcntl' || true)
if [ -n "$narrow" ]; then
  echo "$1: calls with 32-bit file offsets:" $narrow "(built without -D_FILE_OFFSET_BITS=64?)" >&2
  exit 1
fi
echo "$1: ELF32, Intel 80386, 64-bit file offsets"
