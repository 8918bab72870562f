# The Debian packages of the installed tree, made by CPack in a build folder:
#   cpack --config CPackConfig.cmake    (or: cmake --build . --target package)
# gives vorn-admin_<version>-<release>_<arch>.deb (install component "admin")
# and, where vorn_dbcheck is built, vorn-admin-dbcheck_<version>-<release>_<arch>.deb
# (component "dbcheck"): amd64 from the native build, i386 from the 32-bit one.
# dpkg-shlibdeps computes each package's dependencies (libc6; libmariadb3 too
# for vorn-admin-dbcheck).
include(${PROJECT_SOURCE_DIR}/cmake/install.cmake)

set(VORN_PACKAGE_MAINTAINER "Seed 0309e6e4 maintainers <maintainers@users.noreply.c-seed-0309e6e4.example>"
    CACHE STRING "Maintainer field of the Debian package (Name <address>)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorn-admin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write, check and lock the MariaDB connection configuration of vorn")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
vorn_sql writes the database-connection configuration file of the vorn
authentication product: a fixed block of product settings and the MariaDB
host, port, database, user and password, as plain text or encrypted under the
key in /usr/quordex/tirun/.vorn_yelto. It offers defaults for the values not
given, reads one-character answers (so they can be piped on standard input)
and replaces the file atomically.
vorn_set writes the same file with the values read from standard input, so
that no password stands on a command line.
vorn_show prints such a file, decrypted and with the password masked, and
checks every line of it against the format vorn_sql writes.
vorn_keyfile writes the key file, for a random key or a given one.
quordex_helper sets or clears the Linux immutable attribute of a file, to lock
the configuration against change.]=])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# One package per install component. CPack would put the one summary above
# every package's description, so each description carries its own first line.
set(CPACK_DEB_COMPONENT_INSTALL ON)
# The packages are the install components of the declared programs: admin is
# vorn-admin, any other vorn-admin-<component>.
get_property(CPACK_COMPONENTS_ALL GLOBAL PROPERTY VORN_PACKAGES)
list(REMOVE_DUPLICATES CPACK_COMPONENTS_ALL)
set(CPACK_DEBIAN_ADMIN_PACKAGE_NAME vorn-admin)
set(CPACK_DEBIAN_ADMIN_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
unset(CPACK_DEBIAN_PACKAGE_DESCRIPTION)
if(dbcheck IN_LIST CPACK_COMPONENTS_ALL)
  set(CPACK_DEBIAN_DBCHECK_PACKAGE_NAME vorn-admin-dbcheck)
  set(CPACK_DEBIAN_DBCHECK_DESCRIPTION [=[check the MariaDB connection of a vorn configuration file, also for monitoring
vorn_dbcheck reads a configuration file written by vorn_sql (plain, or
encrypted under the key in /usr/quordex/tirun/.vorn_yelto), checks it as
vorn_show does, then connects to the MariaDB server it names with the user,
password and database it holds. It prints one line with the server's version
on success, or one line with the client library's error, and changes nothing.
check_vorn, in /usr/lib/nagios/plugins, makes the same check as a monitoring
plugin for Nagios, Icinga, Naemon, Checkmk or Zabbix, with the file's mode,
owner, lock and key file, the connection time as performance data and
thresholds on it.
They are packaged apart from vorn-admin because they need the MariaDB client
library.]=])
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian's name for the build's processor; CPack would otherwise ask dpkg, which
# names the build machine's.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$" OR
   (CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 4))
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()

# What Debian wants in /usr/share/doc/<package> of each package: the copyright
# file and the changelog, gzipped; and the package's lintian overrides.
function(vorn_package_docs component package)
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  set(out ${CMAKE_BINARY_DIR}/packaging/${package})
  install(FILES ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/copyright DESTINATION ${docdir} COMPONENT ${component})
  set(CPACK_PACKAGE_NAME ${package})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/changelog.in ${out}/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${out}/changelog.Debian.gz
    COMMAND gzip -9n -c ${out}/changelog.Debian > ${out}/changelog.Debian.gz
    DEPENDS ${out}/changelog.Debian
    VERBATIM)
  add_custom_target(gzip_changelog_${component} ALL DEPENDS ${out}/changelog.Debian.gz)
  install(FILES ${out}/changelog.Debian.gz DESTINATION ${docdir} COMPONENT ${component})
  file(READ ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/lintian-overrides overrides)
  string(REPLACE "vorn-admin:" "${package}:" overrides "${overrides}")
  file(WRITE ${out}/lintian-overrides "${overrides}")
  install(FILES ${out}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME ${package} COMPONENT ${component})
endfunction()
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  vorn_package_docs(${component} ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
endforeach()

include(CPack)
