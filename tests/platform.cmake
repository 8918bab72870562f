# Checks that concern the build platform rather than one subsystem.
# On a 32-bit x86 build, every executable of the tree (programs and test
# programs alike) must be a 32-bit x86 one with 64-bit file offsets. Deferred to
# the end of this directory so that the test programs of every area are known.
function(vorn_add_i386_checks)
  vorn_tree_targets(targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      add_test(NAME ${target}.is_i386_with_64bit_offsets
               COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_i386.sh $<TARGET_FILE:${target}>)
    endif()
  endforeach()
endfunction()
if(VORN_I386)
  cmake_language(DEFER CALL vorn_add_i386_checks)
endif()

# The roots' archive: a suite whose index keeps failing is left out of a root,
# with apt's reason, against an archive of the test's own on loopback.
if(NOT VORN_I386 AND NOT VORN_SANITIZE AND NOT VORN_FUZZ)
  add_test(NAME scripts.archive_suite_left_out
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/scripts/archive_fault.py
                   ${PROJECT_SOURCE_DIR}/scripts/root ${CMAKE_BINARY_DIR}/archive-fault)
  set_tests_properties(scripts.archive_suite_left_out PROPERTIES SKIP_RETURN_CODE 77)
endif()
