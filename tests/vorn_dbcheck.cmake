# vorn_dbcheck against a MariaDB server that the test starts in a private folder,
# and against listeners of the test's own that play one (support/fake_mariadb.py).
if(NOT TARGET vorn_dbcheck)
  return()
endif()
# The plugin a caller plants in a folder of its own (planted/evil.so), for the
# environment to name as the client's plugin folder.
add_library(vorn_planted_plugin MODULE support/planted_plugin.cpp)
set_target_properties(vorn_planted_plugin PROPERTIES PREFIX "" OUTPUT_NAME evil
                      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted)
vorn_gtest(vorn_dbcheck_tests
  SOURCES vorn_dbcheck_test.cpp
  LIBS vorn_mariadb_server
  DEFINES VORN_PLANTED_PLUGIN_DIR="$<TARGET_FILE_DIR:vorn_planted_plugin>"
)
add_dependencies(vorn_dbcheck_tests vorn_planted_plugin)
