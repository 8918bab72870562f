# Checks that concern the build platform rather than one subsystem. On the
# 32-bit x86 cross build: the test programs and the programs they start really
# run under the emulator.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  add_executable(machine_name machine_name.cpp)
  vorn_gtest(platform_tests
    SOURCES platform_test.cpp
    DEFINES MACHINE_NAME_PATH="$<TARGET_FILE:machine_name>")
  add_dependencies(platform_tests machine_name)
endif()

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
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  cmake_language(DEFER CALL vorn_add_i386_checks)
endif()
