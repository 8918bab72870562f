# The programs of the tree. Each is declared once, by one vorn_declare_program
# line in the top-level CMakeLists.txt; everything that lists programs (the
# install rules, the test twins, the test support's runners, the hardening,
# libc-only and i386 checks, the package contents, the man page checks, the
# kernel guest, the collection's tests) reads that declaration back from the
# global property VORN_PROGRAMS and the target properties set below.
include(${CMAKE_CURRENT_LIST_DIR}/install.cmake)

# Links target as a deliverable: the C driver and --as-needed, so that any use of
# the C++ runtime becomes a link error and only the libraries it calls are named.
function(vorn_program target)
  target_link_libraries(${target} PRIVATE vorn_flags)
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_link_options(${target} PRIVATE -Wl,--as-needed)
endfunction()

# vorn_declare_program(NAME FOLDER INSTALL_DIR SECTION PACKAGE KEY LIBC_ONLY)
#   FOLDER       holds NAME's sources, its CMakeLists.txt (which makes the
#                executable NAME with the libraries it uses), the man page
#                NAME.SECTION and the bash completion NAME.bash
#   INSTALL_DIR  bin, sbin, or lib/nagios/plugins for a monitoring plugin (the
#                folder where Debian's monitoring engines look for plugins:
#                $USER1$ of Nagios, PluginDir of Icinga 2, NRPE's commands)
#   PACKAGE      the install component: admin (vorn-admin) or dbcheck
#   KEY          none: no key file; fixed: the fixed key path; twin: the fixed
#                key path, and a test build NAME_testkey that reads the key file
#                ".vorn_yelto" in its working folder
#   LIBC_ONLY    yes when libc is the only library it may need
# A folder whose CMakeLists.txt makes no NAME (a library it needs is missing)
# leaves the program out, after saying why.
function(vorn_declare_program name folder install_dir section package key libc_only)
  get_property(added GLOBAL PROPERTY VORN_ADDED_FOLDERS)
  if(NOT folder IN_LIST added)
    add_subdirectory(${folder})
    set_property(GLOBAL APPEND PROPERTY VORN_ADDED_FOLDERS ${folder})
  endif()
  if(NOT TARGET ${name})
    return()
  endif()
  set(dir ${PROJECT_SOURCE_DIR}/${folder})
  foreach(file ${name}.${section} ${name}.bash)
    if(NOT EXISTS ${dir}/${file})
      message(FATAL_ERROR "${folder}/${file} is missing: every program has a man page and a completion")
    endif()
  endforeach()
  if(NOT key MATCHES "^(none|fixed|twin)$" OR NOT libc_only MATCHES "^(yes|no)$" OR
     NOT install_dir MATCHES "^(bin|sbin|lib/nagios/plugins)$")
    message(FATAL_ERROR "vorn_declare_program(${name}): INSTALL_DIR is bin, sbin or lib/nagios/plugins; "
                        "KEY none, fixed or twin; LIBC_ONLY yes or no")
  endif()

  if(VORN_BUILD_TESTS AND key STREQUAL "twin")
    vorn_make_twin(${name})
  endif()
  if(NOT key STREQUAL "none")
    target_link_libraries(${name} PRIVATE vorn_key_path)
  endif()
  vorn_program(${name})

  vorn_install_program(${name} ${install_dir} ${package})
  vorn_install_gzipped(${dir}/${name}.${section} ${CMAKE_INSTALL_MANDIR}/man${section} ${name}.${section}.gz
                       ${package})
  install(FILES ${dir}/${name}.bash RENAME ${name}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions COMPONENT ${package})

  set_target_properties(${name} PROPERTIES
    VORN_FOLDER ${dir} VORN_INSTALL_DIR ${install_dir} VORN_SECTION ${section} VORN_PACKAGE ${package}
    VORN_KEY ${key} VORN_LIBC_ONLY ${libc_only})
  set_property(GLOBAL APPEND PROPERTY VORN_PROGRAMS ${name})
  set_property(GLOBAL APPEND PROPERTY VORN_PACKAGES ${package})
endfunction()

# NAME_testkey: NAME built from the same sources and libraries, with the key
# path of the tests (".vorn_yelto" in the working folder).
function(vorn_make_twin name)
  get_target_property(sources ${name} SOURCES)
  get_target_property(source_dir ${name} SOURCE_DIR)
  list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
  add_executable(${name}_testkey ${sources})
  foreach(property LINK_LIBRARIES INCLUDE_DIRECTORIES COMPILE_DEFINITIONS)
    get_target_property(value ${name} ${property})
    if(value)
      set_target_properties(${name}_testkey PROPERTIES ${property} "${value}")
    endif()
  endforeach()
  target_link_libraries(${name}_testkey PRIVATE vorn_key_path_test)
  vorn_program(${name}_testkey)
endfunction()

# The programs that were built, in declaration order, in out_var.
function(vorn_programs out_var)
  get_property(programs GLOBAL PROPERTY VORN_PROGRAMS)
  set(${out_var} ${programs} PARENT_SCOPE)
endfunction()
