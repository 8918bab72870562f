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
