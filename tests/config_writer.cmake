vorn_gtest(config_writer_tests
  SOURCES getopt_test.cpp config_text_test.cpp vorn_sql_test.cpp
  LIBS vorn_config_writer
  DEFINES VORN_SQL_PATH="$<TARGET_FILE:vorn_sql>")
add_dependencies(config_writer_tests vorn_sql)
vorn_libc_only_test(vorn_sql)
