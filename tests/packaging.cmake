# The man pages, the bash completions and the Debian packages of the programs in
# the list of programs. Each build checks the packages of its own programs:
# amd64 natively, i386 in the 32-bit build. The scripts exit 77, counted as
# skipped, when a tool they need is missing.
set(VORN_CHECK_MAN ${CMAKE_CURRENT_SOURCE_DIR}/check_man.sh)
set(VORN_CHECK_DEB ${CMAKE_CURRENT_SOURCE_DIR}/check_deb.sh)
set(VORN_PACKAGES ${CMAKE_BINARY_DIR}/packages)

set(vorn_doc_tests "")
set(vorn_package_programs "")
foreach(program IN LISTS VORN_PROGRAM_LIST)
  get_target_property(folder ${program} VORN_FOLDER)
  get_target_property(section ${program} VORN_SECTION)
  get_target_property(package ${program} VORN_PACKAGE)
  get_target_property(install_dir ${program} VORN_INSTALL_DIR)
  set(page ${folder}/${program}.${section})
  # Each message the program prints for a reproducible failure is what its page
  # says; the tables are in check_man.sh, one per program.
  add_test(NAME man.${program}.${section}.lint COMMAND ${VORN_CHECK_MAN} lint ${page})
  add_test(NAME man.${program}.${section}.displays COMMAND ${VORN_CHECK_MAN} render ${page} ${PROJECT_VERSION})
  add_test(NAME man.${program}.messages
           COMMAND ${VORN_CHECK_MAN} messages ${program} ${page} $<TARGET_FILE:${program}>)
  add_test(NAME completion.${program}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh ${folder}/${program}.bash ${program})
  list(APPEND vorn_doc_tests man.${program}.${section}.lint man.${program}.${section}.displays
       man.${program}.messages completion.${program})
  list(APPEND vorn_package_programs ${package}:${install_dir}:${program}:${section})
endforeach()
set_tests_properties(${vorn_doc_tests} PROPERTIES SKIP_RETURN_CODE 77)
# A program without a table of completion cases fails its test, whatever its
# completion file holds.
add_test(NAME completion.needs_a_table
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh /dev/null vorn_without_table)
set_tests_properties(completion.needs_a_table PROPERTIES
                     PASS_REGULAR_EXPRESSION "^no completion table for vorn_without_table")

# No package of a sanitizer build: its programs need the sanitizer runtimes.
if(VORN_SANITIZE OR VORN_FUZZ)
  return()
endif()
add_test(NAME package.builds
         COMMAND ${VORN_CHECK_DEB} build ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${VORN_PACKAGES})
set_tests_properties(package.builds PROPERTIES FIXTURES_SETUP vorn_package SKIP_RETURN_CODE 77)
add_test(NAME package.lintian COMMAND ${VORN_CHECK_DEB} lintian ${VORN_PACKAGES})
set(vorn_package_tests package.lintian)
get_property(vorn_components GLOBAL PROPERTY VORN_PACKAGES)
list(REMOVE_DUPLICATES vorn_components)
foreach(component IN LISTS vorn_components)
  add_test(NAME package.${component}.contents
           COMMAND ${VORN_CHECK_DEB} contents ${VORN_PACKAGES} ${component} ${PROJECT_VERSION}
                   ${vorn_package_programs})
  add_test(NAME package.${component}.completion_loads
           COMMAND ${VORN_CHECK_DEB} completion ${VORN_PACKAGES} ${component} ${vorn_package_programs})
  list(APPEND vorn_package_tests package.${component}.contents package.${component}.completion_loads)
endforeach()
set_tests_properties(${vorn_package_tests} PROPERTIES FIXTURES_REQUIRED vorn_package SKIP_RETURN_CODE 77)
