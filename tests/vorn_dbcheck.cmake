# vorn_dbcheck against a MariaDB server that the test starts in a private folder.
if(NOT TARGET vorn_dbcheck)
  return()
endif()
vorn_gtest(vorn_dbcheck_tests
  SOURCES vorn_dbcheck_test.cpp
  LIBS vorn_mariadb_server
)
