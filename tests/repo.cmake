# The signed APT repository that scripts/repo lays out of this build's packages and
# the i386 build's, read by apt-get update over loopback HTTP. amd64 builds only.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME repo.apt_update
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/repo/apt_update.py
                 ${PROJECT_SOURCE_DIR}/scripts ${VORN_TEST_SCRATCH} ${CMAKE_BINARY_DIR}/packages
                 ${VORN_I386_PACKAGES})
set_tests_properties(repo.apt_update PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 FIXTURES_REQUIRED vorn_package)
