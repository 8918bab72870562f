# The Ansible collection against this build's programs (vorn_sql's test build
# reads its key from the working directory); skipped (77) with the reason when
# Ansible, root or the immutable attribute is missing. Native builds only.
if(CMAKE_CROSSCOMPILING OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
set(vorn_ansible_programs
  $<TARGET_FILE:vorn_sql_testkey> $<TARGET_FILE:vorn_show> $<TARGET_FILE:quordex_helper>
  $<TARGET_FILE:vorn_keyfile>)
if(TARGET vorn_dbcheck)
  list(APPEND vorn_ansible_programs $<TARGET_FILE:vorn_dbcheck>)
endif()
foreach(part files lock)
  add_test(NAME ansible.${part}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/ansible/run.py ${part}
                   ${PROJECT_SOURCE_DIR}/ansible ${VORN_TEST_SCRATCH} ${vorn_ansible_programs})
  set_tests_properties(ansible.${part} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endforeach()
