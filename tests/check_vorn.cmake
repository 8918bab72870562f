# check_vorn end to end against a MariaDB server that the test starts in a
# private folder (support/mariadb_server.h), and scheduled by a real Nagios
# (check_vorn/nagios.sh).
if(NOT TARGET check_vorn)
  return()
endif()
vorn_gtest(check_vorn_tests SOURCES check_vorn_test.cpp LIBS vorn_mariadb_server)
