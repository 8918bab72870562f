# Hardening checks of the deliverables, fault injection into the writers, valgrind
# runs and static analysis. Each runs only in the builds where it means
# something: none of them in the sanitizer builds, whose runtimes replace the
# allocator and the hardening flags; valgrind and the analysers natively only.
if(VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()

# The ELF headers of each program: PIE, RELRO, BIND_NOW, no executable stack,
# stack protector and fortified calls; no path of the source or build tree in
# it; and for those declared libc-only, that libc is the one library they need.
foreach(program IN LISTS VORN_PROGRAM_LIST)
  add_test(NAME ${program}.is_hardened
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_hardening.sh $<TARGET_FILE:${program}>)
  # The same commit gives the same program in any folder.
  add_test(NAME ${program}.names_no_build_folder
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_no_paths.sh $<TARGET_FILE:${program}>
                   ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  get_target_property(libc_only ${program} VORN_LIBC_ONLY)
  if(libc_only)
    add_test(NAME ${program}.links_libc_only
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_needed.sh $<TARGET_FILE:${program}>)
  endif()
endforeach()

# The interposer that the fault-injection test preloads into vorn_sql and vorn_set: a
# library of the build's own architecture, never installed or shipped.
add_library(fault_inject SHARED fault_inject.cpp)
target_compile_options(fault_inject PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti)
target_link_libraries(fault_inject PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(fault_inject PROPERTIES LINKER_LANGUAGE C)
vorn_gtest(fault_injection_tests
  SOURCES fault_injection_test.cpp
  DEFINES FAULT_INJECT_PATH="$<TARGET_FILE:fault_inject>")
add_dependencies(fault_injection_tests fault_inject)

# Valgrind and the analysers on the amd64 build alone: the i386 build root has
# neither, and they would only repeat what the native run finds.
if(VORN_I386)
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

# Every program (and test twin) end to end under memcheck.
find_program(VORN_VALGRIND valgrind)
set(vorn_valgrind_programs "")
foreach(program IN LISTS VORN_RUNNABLE)
  list(APPEND vorn_valgrind_programs ${program}=$<TARGET_FILE:${program}>)
endforeach()
vorn_tool_test(valgrind.end_to_end "${VORN_VALGRIND}"
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/valgrind_runs.sh ${VORN_VALGRIND} ${VORN_TEST_SCRATCH}
          ${vorn_valgrind_programs})
set_tests_properties(valgrind.end_to_end PROPERTIES TIMEOUT 300)

# Static analysis of the project's code: clang-tidy with the checks of
# .clang-tidy on this build's compile commands, and cppcheck. Both must be clean.
# The sources of the libraries and of every program built.
set(vorn_code_folders "")
foreach(folder IN LISTS VORN_LIBRARY_FOLDERS)
  list(APPEND vorn_code_folders ${PROJECT_SOURCE_DIR}/${folder})
endforeach()
foreach(program IN LISTS VORN_PROGRAM_LIST)
  get_target_property(folder ${program} VORN_FOLDER)
  list(APPEND vorn_code_folders ${folder})
endforeach()
list(REMOVE_DUPLICATES vorn_code_folders)
set(VORN_ANALYSED_SOURCES "")
set(vorn_include_flags "")
foreach(folder IN LISTS vorn_code_folders)
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(APPEND VORN_ANALYSED_SOURCES ${sources})
  list(APPEND vorn_include_flags -I ${folder})
endforeach()
find_program(VORN_CLANG_TIDY NAMES clang-tidy-14 clang-tidy)
vorn_tool_test(static_analysis.clang_tidy "${VORN_CLANG_TIDY}"
  COMMAND ${VORN_CLANG_TIDY} --quiet -p ${CMAKE_BINARY_DIR} ${VORN_ANALYSED_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
# The layout of every C and C++ source, as .clang-format says.
find_program(VORN_CLANG_FORMAT NAMES clang-format-14 clang-format)
vorn_tool_test(static_analysis.clang_format "${VORN_CLANG_FORMAT}"
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_format.sh ${VORN_CLANG_FORMAT} ${PROJECT_SOURCE_DIR})
find_program(VORN_CPPCHECK cppcheck)
vorn_tool_test(static_analysis.cppcheck "${VORN_CPPCHECK}"
  COMMAND ${VORN_CPPCHECK} --enable=warning,style,performance,portability --library=posix --std=c++20
          --language=c++ --inline-suppr --quiet --error-exitcode=1 --suppress=missingIncludeSystem
          -D_FILE_OFFSET_BITS=64 ${vorn_include_flags} ${VORN_ANALYSED_SOURCES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
