# The i386 packages installed as an administrator installs them: in a fresh
# copy of the i386 host root (scripts/root), apt-get installs vorn-admin and
# vorn-admin-dbcheck from their files and fetches what they need from the
# archive; the installed programs then pass the end-to-end checks
# (install/checks.sh) as root and as an ordinary user, vorn_dbcheck against a
# MariaDB server that the test starts on this machine's loopback; apt-get
# remove leaves the files they wrote. Run from the amd64 build, on the packages
# of the i386 build (VORN_I386_PACKAGES), which scripts/test makes first.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME install.i386_host
         COMMAND $<TARGET_FILE:with_mariadb> ${CMAKE_CURRENT_SOURCE_DIR}/install/check_install.sh
                 ${PROJECT_SOURCE_DIR}/scripts/root ${VORN_I386_PACKAGES} ${VORN_INSTALLED_PROGRAMS}
                 ${CMAKE_BINARY_DIR}/install-check)
set_tests_properties(install.i386_host PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
