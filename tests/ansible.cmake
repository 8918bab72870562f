# The Ansible collection against this build's programs (vorn_sql's test build
# reads its key from the working directory); skipped (77) with the reason when
# Ansible, root or the immutable attribute is missing. amd64 builds only: the
# i386 build root has no Ansible.
if(VORN_I386 OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
# The hosts' bin folder holds every program of the list under its own name, the
# test twin where there is one.
set(vorn_ansible_programs "")
foreach(program IN LISTS VORN_PROGRAM_LIST)
  set(target ${program})
  if(TARGET ${program}_testkey)
    set(target ${program}_testkey)
  endif()
  list(APPEND vorn_ansible_programs ${program}=$<TARGET_FILE:${target}>)
endforeach()
foreach(part files lock)
  add_test(NAME ansible.${part}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/ansible/run.py ${part}
                   ${PROJECT_SOURCE_DIR}/ansible ${VORN_TEST_SCRATCH} ${vorn_ansible_programs})
  set_tests_properties(ansible.${part} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endforeach()
# The collection's sanity checks on a copy laid out as ansible_collections/vorn/admin:
# ansible-test's offline tests, and the ones it would fetch tools from PyPI for, run
# with the same tools from Debian's packages, with the limit of 50 lines a function;
# ansible-lint's production profile, offline.
foreach(part ansible-test tools ansible-lint)
  add_test(NAME ansible.sanity.${part}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/ansible/sanity.py ${part}
                   ${PROJECT_SOURCE_DIR}/ansible ${VORN_TEST_SCRATCH})
  set_tests_properties(ansible.sanity.${part} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endforeach()
# Each role's README table of arguments and its defaults against its meta/argument_specs.yml.
add_test(NAME ansible.role_doc
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/ansible/role_doc.py ${PROJECT_SOURCE_DIR}/ansible)
