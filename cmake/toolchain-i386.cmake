# 32-bit x86 (i686) Linux build with the host's multilib gcc and g++ (Debian's
# g++-multilib). Every program of the build, test programs included, is started
# through the user-mode emulator qemu-i386 (Debian's qemu-user): the build never
# relies on the kernel running 32-bit programs itself, nor on a binfmt handler.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# 64-bit file offsets and inode numbers for the whole build, GoogleTest and the
# test support included: one struct stat layout everywhere, and no EOVERFLOW from
# opens or status queries on large files or large inode numbers.
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")

# The 32-bit loader and libraries of the multilib packages live in the host's
# own tree (/lib/ld-linux.so.2, /lib32, /usr/lib32), so the emulator's prefix is /.
find_program(VORN_QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${VORN_QEMU_I386};-L;/")
