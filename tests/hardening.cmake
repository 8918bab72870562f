# Hardening checks of the deliverables, fault injection into vorn_sql, valgrind
# runs and static analysis. Each runs only in the builds where it means
# something: none of them in the sanitizer builds, whose runtimes replace the
# allocator and the hardening flags; valgrind and the analysers natively only.
if(VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()

# The ELF headers of each deliverable: PIE, RELRO, BIND_NOW, no executable
# stack, stack protector and fortified calls.
foreach(target vorn_sql quordex_helper vorn_keyfile vorn_show)
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

if(CMAKE_CROSSCOMPILING)
  return()
endif()

# A tool that scripts/setup installs; when it is missing, the test says so and
# counts as skipped.
function(vorn_tool_test name tool)
  if(tool)
    add_test(NAME ${name} ${ARGN})
  else()
    add_test(NAME ${name} COMMAND sh -c "echo '${name}: tool not found (bash scripts/setup installs it)'; exit 77")
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()

# vorn_sql (plain and encrypted) and quordex_helper end to end under memcheck.
find_program(VORN_VALGRIND valgrind)
vorn_tool_test(valgrind.end_to_end "${VORN_VALGRIND}"
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/valgrind_runs.sh ${VORN_VALGRIND}
          $<TARGET_FILE:vorn_sql> $<TARGET_FILE:vorn_sql_testkey> $<TARGET_FILE:vorn_keyfile>
          $<TARGET_FILE:quordex_helper> ${VORN_TEST_SCRATCH})
set_tests_properties(valgrind.end_to_end PROPERTIES TIMEOUT 300)

# Static analysis of the project's code: clang-tidy with the checks of
# .clang-tidy on this build's compile commands, and cppcheck. Both must be clean.
file(GLOB VORN_ANALYSED_SOURCES CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/config_writer/*.cpp ${PROJECT_SOURCE_DIR}/cipher/*.cpp
  ${PROJECT_SOURCE_DIR}/immutable_helper/*.cpp)
find_program(VORN_CLANG_TIDY NAMES clang-tidy-14 clang-tidy)
vorn_tool_test(static_analysis.clang_tidy "${VORN_CLANG_TIDY}"
  COMMAND ${VORN_CLANG_TIDY} --quiet -p ${CMAKE_BINARY_DIR} ${VORN_ANALYSED_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
find_program(VORN_CPPCHECK cppcheck)
vorn_tool_test(static_analysis.cppcheck "${VORN_CPPCHECK}"
  COMMAND ${VORN_CPPCHECK} --enable=warning,style,performance,portability --library=posix --std=c++20
          --language=c++ --inline-suppr --quiet --error-exitcode=1 --suppress=missingIncludeSystem
          -D_FILE_OFFSET_BITS=64 -I ${PROJECT_SOURCE_DIR}/config_writer -I ${PROJECT_SOURCE_DIR}/cipher
          -I ${PROJECT_SOURCE_DIR}/immutable_helper ${VORN_ANALYSED_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
