# vorn_dbcheck against a MariaDB server that the test starts in a private folder,
# and against listeners of the test's own that play one (support/fake_mariadb.py).
if(NOT TARGET vorn_dbcheck)
  return()
endif()
vorn_gtest(vorn_dbcheck_tests
  SOURCES vorn_dbcheck_test.cpp
  LIBS vorn_mariadb_server
)
