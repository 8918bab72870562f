# Install locations (GNUInstallDirs) and the rule for files installed gzipped,
# as Debian wants man pages and changelogs: gzip -9n, so that the same source
# always gives the same bytes (no file name or time stamp in the header).
include_guard(DIRECTORY)
include(GNUInstallDirs)

# Installs SOURCE, compressed, as DESTINATION/NAME in the install component
# COMPONENT (the package); built with the default target.
function(vorn_install_gzipped source destination name component)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9n -c ${source} > ${gz}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${destination} COMPONENT ${component})
endfunction()

# Installs the program TARGET into DESTINATION in the install component
# COMPONENT (the package). An install with --strip (and CPack's) also drops the
# .comment and .note sections, as Debian's dh_strip does: they only name the
# compiler.
function(vorn_install_program target destination component)
  install(TARGETS ${target} RUNTIME DESTINATION ${destination} COMPONENT ${component})
  set(file "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>")
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note \"${file}\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT ${component})
endfunction()
