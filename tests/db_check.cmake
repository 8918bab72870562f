# vorn_dbcheck against a MariaDB server that the test starts in a private folder.
if(NOT TARGET vorn_dbcheck)
  return()
endif()
add_library(vorn_mariadb_server STATIC support/mariadb_server.cpp)
target_link_libraries(vorn_mariadb_server PUBLIC vorn_test_support)
vorn_gtest(db_check_tests
  SOURCES db_check_test.cpp
  LIBS vorn_mariadb_server
  DEFINES
    VORN_DBCHECK_PATH="$<TARGET_FILE:vorn_dbcheck>"
    VORN_SQL_TESTKEY_PATH="$<TARGET_FILE:vorn_sql_testkey>"
    VORN_KEYFILE_PATH="$<TARGET_FILE:vorn_keyfile>")
add_dependencies(db_check_tests vorn_dbcheck vorn_sql_testkey vorn_keyfile)
