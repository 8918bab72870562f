# vorn_dbcheck against a MariaDB server that the test starts in a private folder.
if(NOT TARGET vorn_dbcheck)
  return()
endif()
add_library(vorn_mariadb_server STATIC support/mariadb_server.cpp)
target_link_libraries(vorn_mariadb_server PUBLIC vorn_test_support)
vorn_gtest(vorn_dbcheck_tests
  SOURCES vorn_dbcheck_test.cpp
  LIBS vorn_mariadb_server
)
