# The man pages, the bash completion and the Debian package. Each build checks
# the package of its own programs: amd64 natively, i386 in the 32-bit build.
# The scripts exit 77, counted as skipped, when a tool they need is missing.
set(VORN_CHECK_MAN ${CMAKE_CURRENT_SOURCE_DIR}/check_man.sh)
set(VORN_CHECK_DEB ${CMAKE_CURRENT_SOURCE_DIR}/check_deb.sh)
set(VORN_MAN_PAGES ${PROJECT_SOURCE_DIR}/man/vorn_sql.1 ${PROJECT_SOURCE_DIR}/man/quordex_helper.8)
set(VORN_READER_PAGES ${PROJECT_SOURCE_DIR}/man/vorn_show.1 ${PROJECT_SOURCE_DIR}/man/vorn_keyfile.8)
set(VORN_PACKAGES ${CMAKE_BINARY_DIR}/packages)

foreach(page IN LISTS VORN_MAN_PAGES VORN_READER_PAGES)
  cmake_path(GET page FILENAME name)
  add_test(NAME man.${name}.lint COMMAND ${VORN_CHECK_MAN} lint ${page})
  list(APPEND vorn_doc_tests man.${name}.lint)
endforeach()
add_test(NAME man.vorn_sql.1.displays
         COMMAND ${VORN_CHECK_MAN} render ${PROJECT_SOURCE_DIR}/man/vorn_sql.1 ${PROJECT_VERSION}
                 NAME SYNOPSIS DESCRIPTION OPTIONS QUESTIONS ENVIRONMENT FILES "EXIT STATUS"
                 DIAGNOSTICS EXAMPLES SECURITY "SEE ALSO")
add_test(NAME man.quordex_helper.8.displays
         COMMAND ${VORN_CHECK_MAN} render ${PROJECT_SOURCE_DIR}/man/quordex_helper.8 ${PROJECT_VERSION}
                 NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" DIAGNOSTICS EXAMPLES "SEE ALSO")
add_test(NAME man.vorn_show.1.displays
         COMMAND ${VORN_CHECK_MAN} render ${PROJECT_SOURCE_DIR}/man/vorn_show.1 ${PROJECT_VERSION}
                 NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS EXAMPLES "SEE ALSO")
add_test(NAME man.vorn_keyfile.8.displays
         COMMAND ${VORN_CHECK_MAN} render ${PROJECT_SOURCE_DIR}/man/vorn_keyfile.8 ${PROJECT_VERSION}
                 NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" DIAGNOSTICS EXAMPLES SECURITY "SEE ALSO")
add_test(NAME man.reader_messages_are_the_programs
         COMMAND ${VORN_CHECK_MAN} reader-messages ${VORN_READER_PAGES}
                 $<TARGET_FILE:vorn_show> $<TARGET_FILE:vorn_keyfile> "${VORN_EMULATOR_STRING}")
add_test(NAME man.messages_are_the_programs
         COMMAND ${VORN_CHECK_MAN} messages ${VORN_MAN_PAGES}
                 $<TARGET_FILE:vorn_sql> $<TARGET_FILE:quordex_helper> "${VORN_EMULATOR_STRING}")
add_test(NAME completion.vorn_sql
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh ${PROJECT_SOURCE_DIR}/completion/vorn_sql)
foreach(program vorn_show vorn_keyfile)
  add_test(NAME completion.${program}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh ${PROJECT_SOURCE_DIR}/completion/${program} ${program})
endforeach()
list(APPEND vorn_doc_tests man.vorn_sql.1.displays man.quordex_helper.8.displays
     man.messages_are_the_programs completion.vorn_sql man.vorn_show.1.displays man.vorn_keyfile.8.displays
     man.reader_messages_are_the_programs completion.vorn_show completion.vorn_keyfile)
set_tests_properties(${vorn_doc_tests} PROPERTIES SKIP_RETURN_CODE 77)

# No package of a sanitizer build: its programs need the sanitizer runtimes.
if(NOT VORN_SANITIZE AND NOT VORN_FUZZ)
  add_test(NAME package.builds
           COMMAND ${VORN_CHECK_DEB} build ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${VORN_PACKAGES})
  add_test(NAME package.contents
           COMMAND ${VORN_CHECK_DEB} contents ${VORN_PACKAGES} ${PROJECT_VERSION} "${VORN_EMULATOR_STRING}")
  add_test(NAME package.lintian COMMAND ${VORN_CHECK_DEB} lintian ${VORN_PACKAGES})
  add_test(NAME package.completion_loads COMMAND ${VORN_CHECK_DEB} completion ${VORN_PACKAGES})
  set_tests_properties(package.builds PROPERTIES FIXTURES_SETUP vorn_package SKIP_RETURN_CODE 77)
  set_tests_properties(package.contents package.lintian package.completion_loads
                       PROPERTIES FIXTURES_REQUIRED vorn_package SKIP_RETURN_CODE 77)
endif()

# vorn_dbcheck, where it is built: its man page, completion and package.
if(TARGET vorn_dbcheck)
  add_test(NAME man.vorn_dbcheck.1.lint COMMAND ${VORN_CHECK_MAN} lint ${PROJECT_SOURCE_DIR}/man/vorn_dbcheck.1)
  add_test(NAME man.vorn_dbcheck.1.displays
           COMMAND ${VORN_CHECK_MAN} render ${PROJECT_SOURCE_DIR}/man/vorn_dbcheck.1 ${PROJECT_VERSION}
                   NAME SYNOPSIS DESCRIPTION OPTIONS OUTPUT ENVIRONMENT FILES "EXIT STATUS" DIAGNOSTICS
                   EXAMPLES SECURITY "SEE ALSO")
  add_test(NAME completion.vorn_dbcheck
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/completion_test.sh ${PROJECT_SOURCE_DIR}/completion/vorn_dbcheck
                   vorn_dbcheck)
  set_tests_properties(man.vorn_dbcheck.1.lint man.vorn_dbcheck.1.displays completion.vorn_dbcheck
                       PROPERTIES SKIP_RETURN_CODE 77)
  if(NOT VORN_SANITIZE AND NOT VORN_FUZZ)
    add_test(NAME package.dbcheck_contents
             COMMAND ${VORN_CHECK_DEB} dbcheck ${VORN_PACKAGES} ${PROJECT_VERSION} "${VORN_EMULATOR_STRING}")
    add_test(NAME package.dbcheck_completion_loads
             COMMAND ${VORN_CHECK_DEB} completion ${VORN_PACKAGES} vorn-admin-dbcheck vorn_dbcheck)
    set_tests_properties(package.dbcheck_contents package.dbcheck_completion_loads
                         PROPERTIES FIXTURES_REQUIRED vorn_package SKIP_RETURN_CODE 77)
  endif()
endif()
