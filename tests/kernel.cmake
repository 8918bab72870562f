# The i386 packages on a 32-bit Linux kernel: kernel/run_guest.sh boots
# Debian's 686 kernel under qemu-system-i386 (TCG) on a disk made from the i386
# host root with vorn-admin and vorn-admin-dbcheck installed by apt
# (scripts/root installed), and runs the end-to-end checks (install/checks.sh)
# in it, as root and as an ordinary user, on ext4; vorn_dbcheck reaches the
# MariaDB server that the test starts on this machine's loopback through
# qemu's user network, which lets the guest reach that one port and nothing
# else. Run from the amd64 build, on the i386 build's packages.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME kernel.i386_guest
         COMMAND $<TARGET_FILE:with_mariadb> ${CMAKE_CURRENT_SOURCE_DIR}/kernel/run_guest.sh
                 ${PROJECT_SOURCE_DIR}/scripts/root ${VORN_I386_PACKAGES} ${VORN_INSTALLED_PROGRAMS}
                 ${CMAKE_BINARY_DIR}/kernel-guest)
set_tests_properties(kernel.i386_guest PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
