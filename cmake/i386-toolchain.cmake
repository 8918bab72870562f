# The 32-bit x86 build: Debian's cross compilers for i686, with the i386
# libraries installed beside the amd64 ones (multiarch) in the i386 build root
# (scripts/roots/i386-build.packages). The compilers are amd64 programs, so the
# build runs at full speed on every machine; the i386 programs it makes run
# where the kernel runs i386 code, natively or through scripts/binfmt.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
