# The signed APT repository that scripts/package lays out in build/repo, read by
# apt-get update over loopback HTTP; skipped (77) until it has been laid out.
# amd64 builds only: it checks the source tree's build/, not the build's own files.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME repo.apt_update
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/repo/apt_update.py
                 ${PROJECT_SOURCE_DIR}/build/repo ${PROJECT_SOURCE_DIR}/build/packages ${VORN_TEST_SCRATCH})
set_tests_properties(repo.apt_update PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
