# The collection over real ssh to a fleet of i386 hosts (fleet/fleet.py): four
# bare copies of the i386 host root, each with its own sshd on a loopback port,
# and the 32-bit kernel guest, reached through a forwarded port. The README's
# role playbook installs and upgrades the packages from a signed repository
# that the test serves on loopback, then its module playbook and the
# collection's rotation playbook run against them and a MariaDB server that
# the test starts on this machine's loopback. Run from the amd64 build, on the
# i386 build's packages.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME fleet.ssh
         COMMAND $<TARGET_FILE:with_mariadb> /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/fleet/fleet.py
                 ${PROJECT_SOURCE_DIR}/scripts/root ${VORN_I386_PACKAGES} ${PROJECT_SOURCE_DIR}/ansible
                 ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/fleet)
# The longest test: started first, so that the others run beside it.
set_tests_properties(fleet.ssh PROPERTIES TIMEOUT 1800 SKIP_RETURN_CODE 77 COST 10000)
