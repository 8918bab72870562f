# vorn_dbcheck against a MariaDB server that the test starts in a private folder,
# and against listeners of the test's own that play one (support/fake_mariadb.py).
if(NOT TARGET vorn_dbcheck)
  return()
endif()
add_library(vorn_mariadb_server STATIC support/mariadb_server.cpp)
target_link_libraries(vorn_mariadb_server PUBLIC vorn_test_support)
target_compile_definitions(vorn_mariadb_server PRIVATE
  VORN_FAKE_MARIADB="${CMAKE_CURRENT_SOURCE_DIR}/support/fake_mariadb.py")
vorn_gtest(vorn_dbcheck_tests
  SOURCES vorn_dbcheck_test.cpp
  LIBS vorn_mariadb_server
)
