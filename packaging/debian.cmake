# The Debian package of the installed tree, made by CPack in a build folder:
#   cpack --config CPackConfig.cmake    (or: cmake --build . --target package)
# gives vorn-admin_<version>-<release>_<arch>.deb: amd64 from the native build,
# i386 from the 32-bit one. dpkg-shlibdeps computes the dependency on libc6.
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
vorn_show prints such a file, decrypted and with the password masked, and
checks every line of it against the format vorn_sql writes.
vorn_keyfile writes the key file, for a random key or a given one.
quordex_helper sets or clears the Linux immutable attribute of a file, to lock
the configuration against change.]=])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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

# What Debian wants in /usr/share/doc/<package>: the copyright file and the
# changelog of the package, gzipped.
set(VORN_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${VORN_PACKAGE_DOCDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
vorn_install_gzipped(${CMAKE_BINARY_DIR}/packaging/changelog.Debian ${VORN_PACKAGE_DOCDIR} changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

include(CPack)
