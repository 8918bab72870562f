# Install locations (GNUInstallDirs) and the rule for files installed gzipped,
# as Debian wants man pages and changelogs: gzip -9n, so that the same source
# always gives the same bytes (no file name or time stamp in the header).
include_guard(DIRECTORY)
include(GNUInstallDirs)

# Installs SOURCE, compressed, as DESTINATION/NAME; built with the default target.
function(vorn_install_gzipped source destination name)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9n -c ${source} > ${gz}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${gz})
  install(FILES ${gz} DESTINATION ${destination})
endfunction()
