# Hardening checks of the deliverables, fault injection into vorn_sql, valgrind
# runs and static analysis. Each runs only in the builds where it means
# something: none of them in the sanitizer builds, whose runtimes replace the
# allocator and the hardening flags; valgrind and the analysers natively only.
if(VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()

# The ELF headers of each deliverable: PIE, RELRO, BIND_NOW, no executable
# stack, stack protector and fortified calls.
foreach(target vorn_sql quordex_helper vorn_keyfile)
  add_test(NAME ${target}.is_hardened
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_hardening.sh $<TARGET_FILE:${target}>)
endforeach()

# The interposer that the fault-injection test preloads into vorn_sql: a
# library of the build's own architecture, never installed or shipped.
add_library(fault_inject SHARED fault_inject.cpp)
target_compile_options(fault_inject PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti)
target_link_libraries(fault_inject PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(fault_inject PROPERTIES LINKER_LANGUAGE C)
vorn_gtest(fault_injection_tests
  SOURCES fault_injection_test.cpp
  LIBS vorn_cipher vorn_key_path_test
  DEFINES
    FAULT_INJECT_PATH="$<TARGET_FILE:fault_inject>"
    VORN_CIPHER_VECTORS="${CMAKE_CURRENT_SOURCE_DIR}/cipher_vectors"
    VORN_SQL_PATH="$<TARGET_FILE:vorn_sql>"
    VORN_SQL_TESTKEY_PATH="$<TARGET_FILE:vorn_sql_testkey>"
    VORN_KEYFILE_PATH="$<TARGET_FILE:vorn_keyfile>")
add_dependencies(fault_injection_tests fault_inject vorn_sql vorn_sql_testkey vorn_keyfile)
