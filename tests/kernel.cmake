# The 32-bit build tested on a 32-bit Linux kernel: kernel/run_guest.sh boots
# Debian's i386 kernel under qemu-system-i386 with a guest made of i386 Debian
# packages, runs every GoogleTest program of this build in it on ext4 (as root
# and as an unprivileged user) and a lock-and-write run of vorn_sql and
# quordex_helper, and judges the results it brings back. i386 builds only.
if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$" OR VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()

# The guest's kernel runs 32-bit programs itself: this executes what the test
# programs hand to the emulator, at the emulator's path in the guest.
add_executable(emulator_standin kernel/emulator_standin.cpp)
target_compile_options(emulator_standin PRIVATE -Wall -Wextra)

# Skips expected when the test programs run as the unprivileged user: the cases
# that need root (an extended regular expression over Suite.Case).
set(VORN_GUEST_USER_SKIPS "^QuordexHelperFiles\\.")

# Writes the guest's manifest once every area has added its targets: every
# executable and shared library of the tree (the test programs find each other
# by their build-tree paths, so the guest holds them at the same paths), and
# which of them are GoogleTest programs (those linked with GTest::gtest_main).
function(vorn_write_guest_manifest)
  set(files "")
  set(gtests "")
  vorn_tree_targets(targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
      continue()
    endif()
    string(APPEND files " $<TARGET_FILE:${target}>")
    get_target_property(libs ${target} LINK_LIBRARIES)
    if("GTest::gtest_main" IN_LIST libs)
      get_target_property(workdir ${target} BINARY_DIR)
      string(APPEND gtests " $<TARGET_FILE:${target}>:${workdir}")
    endif()
  endforeach()
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/kernel-guest/manifest CONTENT
"VORN_FILES='${files}'
VORN_GTESTS='${gtests}'
VORN_DATA='${PROJECT_SOURCE_DIR}/tests'
VORN_EMULATOR='${emulator}'
VORN_STANDIN='$<TARGET_FILE:emulator_standin>'
VORN_SCRATCH='${VORN_TEST_SCRATCH}'
VORN_SQL='$<TARGET_FILE:vorn_sql>'
VORN_HELPER='$<TARGET_FILE:quordex_helper>'
VORN_USER_SKIPS='${VORN_GUEST_USER_SKIPS}'
")
endfunction()
cmake_language(DEFER CALL vorn_write_guest_manifest)

add_test(NAME kernel.i386_guest
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kernel/run_guest.sh
                 ${CMAKE_BINARY_DIR}/kernel-guest/manifest ${CMAKE_BINARY_DIR}/kernel-guest)
set_tests_properties(kernel.i386_guest PROPERTIES TIMEOUT 600)
